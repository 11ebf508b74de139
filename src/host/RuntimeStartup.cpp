// Starting the runtime: once per process, on a host thread of its own that then stays
// alive for as long as the runtime is up.

#include <CloudSDKCppBridge.h>

#include "host/MonoText.h"
#include "host/RuntimeSignals.h"
#include "platform/CUbPath.h"
#include "platform/LogSink.h"
#include "platform/MonoAPI.h"
#include "platform/UbSleep.h"
#include "platform/ZRPI_Base.h"
#include "platform/ZrThread.h"

#include <atomic>
#include <cstdlib>

namespace CloudSDKCppBridge {

namespace {

// The runtime's environment is set here, on the constructing thread, before the host
// thread exists: setenv while another thread of the library reads the environment is
// undefined behaviour, and the constructing thread's logger would otherwise read its
// settings while the host thread writes. The library reads nothing more of it afterwards.
// Returns the home directory.
std::string SettleRuntimeEnvironment() {
    cloudsdk::LogSink::Instance();  // reads CLOUDSDK_LOG and CLOUDSDK_LOG_LEVEL now
    std::string home = ZRPI_Base().getHomeDirectory();
    setenv("MONO_THREADS_SUSPEND", "preemptive", 1);
    setenv("MONO_PATH", home.c_str(), 1);
    return home;
}

}  // namespace

bool CCloudWrapperPtr::StartMonoThread() {
    // Handed to the host thread, which reads it only before it sets the event this thread
    // waits for: a local outlives that, and exit() does not destroy it under the reader.
    const std::string home = SettleRuntimeEnvironment();
    ZrThread thread;
    if (!thread.createThread(&CCloudWrapperPtr::MonoThread, const_cast<std::string*>(&home))) {
        // No thread will ever set the event: fail this start-up now instead of waiting.
        g_debug.error("Could not create the mono host thread");
        return false;
    }
    c_AzuremonoThreadRunning = true;
    g_debug.debugLvl(2, "Waiting for mono initialization");
    c_AzuremonoInitEvent.wait();
    g_debug.debugLvl(2, "Done waiting for mono initialization");
    return c_AzuremonoInitStatus;
}

void* CCloudWrapperPtr::MonoThread(void* home) {
    const bool up = InitMono(*static_cast<const std::string*>(home));
    if (up) {
        // Before any constructor is let go: from now on each thread that enters the library
        // unblocks them, this one included (it inherited the host's mask).
        cloudsdk::runtimesignals::Record();
        cloudsdk::runtimesignals::UnblockInThisThread();
    }
    // Released for the exported helpers, which test it without passing the start-up lock.
    std::atomic_ref<bool>(c_AzuremonoInitStatus).store(up, std::memory_order_release);
    // Recorded before the waiting constructor is let go, so that the start-up's record
    // comes before any record of what the host does next.
    g_debug.debug("mono initialization returned - [%s] c_AzuremonoInitStatus - [%d] ", g_AzuremonoVersion.c_str(),
                  up ? 1 : 0);
    c_AzuremonoInitEvent.set();
    // The runtime was started on this thread; it stays for the life of the process.
    while (up) {
        UBSLEEP_InTeRnAl(10000, __FILE__, __LINE__);
    }
    return nullptr;
}

bool CCloudWrapperPtr::InitMono(const std::string& home) {
    if (g_domain != nullptr) {
        return true;
    }
    if (!MonoAPI::Initialize()) {
        return false;
    }
    MonoAPI::mono_config_parse_ptr(nullptr);
    g_domain = MonoAPI::mono_jit_init_ptr("CloudSDKCppBridge");
    if (g_domain == nullptr) {
        return false;
    }
    if (cloudsdk::MonoText info{MonoAPI::mono_get_runtime_build_info_ptr()}) {
        g_AzuremonoVersion = info.get();
    }

    const std::string directory = CUbPath::Append(home, "CloudSDKWrapper").c_str();
    MonoAPI::mono_domain_set_config_ptr(g_domain, directory.c_str(), "ZRCloudSDKWrapper.config");
    const std::string assemblyPath = CUbPath::Append(directory, "ZRCloudSDKWrapper.dll").c_str();
    MonoAssembly* assembly = MonoAPI::mono_domain_assembly_open_ptr(g_domain, assemblyPath.c_str());
    if (assembly == nullptr) {
        return false;
    }
    g_image = MonoAPI::mono_assembly_get_image_ptr(assembly);
    return g_image != nullptr;
}

}  // namespace CloudSDKCppBridge
