#include "host/RuntimeEntry.h"

#include <CloudSDKCppBridge.h>

#include "host/RuntimeSignals.h"
#include "platform/MonoAPI.h"

#include <atomic>

namespace cloudsdk {

bool EnterRuntime() {
    // Written once, by the runtime's host thread, before any constructor learns of it.
    if (!std::atomic_ref<bool>(CloudSDKCppBridge::CCloudWrapperPtr::c_AzuremonoInitStatus)
             .load(std::memory_order_acquire)) {
        return false;
    }
    // On every entry, not once per thread: the host may have blocked signals since.
    runtimesignals::UnblockInThisThread();
    runtimesignals::UnblockAgainAtThreadExit();
    MonoAPI::mono_thread_attach_ptr(g_domain);
    return true;
}

}  // namespace cloudsdk
