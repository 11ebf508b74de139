#include "host/ThrownException.h"

#include <cstdint>

namespace cloudsdk {

namespace {

// A plain integer, so that thread exit has nothing to destroy.
thread_local uint32_t t_thrownExceptionHandle = 0;

}  // namespace

void HoldThrownException(MonoObject* exception) {
    CloudSDKCppBridge::CGcHandle previous = TakeThrownException();
    t_thrownExceptionHandle = CloudSDKCppBridge::CGcHandle::New(exception, /*pinned=*/true).Release();
}

CloudSDKCppBridge::CGcHandle TakeThrownException() noexcept {
    const uint32_t handle = t_thrownExceptionHandle;
    t_thrownExceptionHandle = 0;
    return CloudSDKCppBridge::CGcHandle::Adopt(handle);
}

}  // namespace cloudsdk
