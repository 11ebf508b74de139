#pragma once

// The runtime starts once per process: the fuzz targets that cross into it construct one
// bridge on first use (CLOUDSDK_HOME names the test-double world; the fuzz script sets it),
// keep it for the life of the process, and attach the fuzzing thread.

#include <CloudSDKCppBridge.h>

#include "ReferenceText.h"
#include "platform/MonoAPI.h"

#include <memory>

namespace fuzzref {

inline void StartRuntimeOnce() {
    static const auto bridge = [] {
        auto b = std::make_unique<CloudSDKCppBridge::CCloudSDKCppBridge>();
        Check(CloudSDKCppBridge::CCloudWrapperPtr::c_AzuremonoInitStatus && g_domain != nullptr,
              "the runtime did not start: is CLOUDSDK_HOME the normal test-double world?");
        MonoAPI::mono_thread_attach_ptr(g_domain);
        return b;
    }();
    (void)bridge;
}

}  // namespace fuzzref
