// Starting the runtime: once per process, on a host thread of its own that then stays
// alive for as long as the runtime is up.

#include <CloudSDKCppBridge.h>

#include "host/MonoText.h"
#include "host/RuntimeSignals.h"
#include "platform/CUbPath.h"
#include "platform/MonoAPI.h"
#include "platform/UbSleep.h"
#include "platform/ZRPI_Base.h"
#include "platform/ZrThread.h"

#include <cstdlib>

namespace CloudSDKCppBridge {

bool CCloudWrapperPtr::StartMonoThread() {
    ZrThread thread;
    if (!thread.createThread(&CCloudWrapperPtr::MonoThread, nullptr)) {
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

void* CCloudWrapperPtr::MonoThread(void* /*arg*/) {
    c_AzuremonoInitStatus = InitMono();
    if (c_AzuremonoInitStatus) {
        // Before any constructor is let go: from now on each thread that enters the library
        // unblocks them, this one included (it inherited the host's mask).
        cloudsdk::runtimesignals::Record();
        cloudsdk::runtimesignals::UnblockInThisThread();
    }
    // Recorded before the waiting constructor is let go, so that the start-up's record
    // comes before any record of what the host does next.
    g_debug.debug("mono initialization returned - [%s] c_AzuremonoInitStatus - [%d] ", g_AzuremonoVersion.c_str(),
                  c_AzuremonoInitStatus ? 1 : 0);
    c_AzuremonoInitEvent.set();
    // The runtime was started on this thread; it stays for the life of the process.
    while (c_AzuremonoInitStatus) {
        UBSLEEP_InTeRnAl(10000, __FILE__, __LINE__);
    }
    return nullptr;
}

bool CCloudWrapperPtr::InitMono() {
    if (g_domain != nullptr) {
        return true;
    }
    setenv("MONO_THREADS_SUSPEND", "preemptive", 1);
    std::string home;
    {
        ZRPI_Base platform;
        home = platform.getHomeDirectory();
    }
    setenv("MONO_PATH", home.c_str(), 1);

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
