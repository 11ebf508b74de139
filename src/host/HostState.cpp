// The process-wide state of the runtime host. Defined in one unit so that static
// initialisation creates it in this order (and unloading destroys it in reverse): the
// version text, the logger, the start-up lock, the start-up event.

#include <CloudSDKCppBridge.h>

#include "host/StartupState.h"

#include <atomic>
#include <type_traits>

MonoDomain* g_domain = nullptr;
MonoImage* g_image = nullptr;
std::string g_AzuremonoVersion;
EvDebug g_debug(nullptr);

namespace CloudSDKCppBridge {

bool CCloudWrapperPtr::c_AzuremonoInitStatus = false;
bool CCloudWrapperPtr::c_AzuremonoThreadRunning = false;
// Exported with the interface; the start-up itself uses cloudsdk::startup below, which
// exit leaves intact.
ZrCriticalSection CCloudWrapperPtr::c_AzuremonoInitCS;
ZrEvent CCloudWrapperPtr::c_AzuremonoInitEvent(false);

}  // namespace CloudSDKCppBridge

namespace cloudsdk::startup {

namespace {

std::mutex g_lock;
// Waited on as a futex, not through a condition variable: glibc's condition-variable
// destructor waits for its waiters, which would hang exit().
std::atomic<bool> g_done{false};

static_assert(std::is_trivially_destructible_v<std::mutex> && std::is_trivially_destructible_v<std::atomic<bool>>,
              "the start-up state must have nothing to destroy at exit");

}  // namespace

std::mutex& Lock() { return g_lock; }

void SignalDone() {
    g_done.store(true, std::memory_order_release);
    g_done.notify_all();
}

void AwaitDone() {
    while (!g_done.load(std::memory_order_acquire)) {
        g_done.wait(false, std::memory_order_acquire);
    }
}

}  // namespace cloudsdk::startup
