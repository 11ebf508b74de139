#pragma once

// A managed exception travels from the invoker to the bridge method's handler as a native
// exception of type MonoObject*. The collector does not see the native exception's
// storage, so the object is held by a pinned GC handle of the throwing thread meanwhile.

#include <CloudSDKCppBridge/GcHandle.h>

namespace cloudsdk {

// Holds `exception` until TakeThrownException on this thread (or the next hold).
void HoldThrownException(MonoObject* exception);

// The handle of the exception this thread threw last; freed with it.
CloudSDKCppBridge::CGcHandle TakeThrownException() noexcept;

}  // namespace cloudsdk
