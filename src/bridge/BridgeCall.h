#pragma once

// The call pattern every bridge method follows: attach the calling thread, build the
// argument array, invoke, convert. A managed exception, which the invoker throws as a
// MonoObject*, is logged under the method's signature and turned into its failure result.

#include <CloudSDKCppBridge.h>

#include "host/Arguments.h"
#include "host/TextCrossing.h"
#include "host/ThrownException.h"
#include "platform/MonoAPI.h"  // the complete MonoObject, which a handler needs

#include <string>
#include <utility>

namespace CloudSDKCppBridge::bridge {

// Runs `body(runtimeUp)`; on a managed exception logs it under `signature` and returns
// `onException()`. Native exceptions of other types pass through to the host.
template <class Body, class OnException>
auto Call(CCloudWrapperPtr& wrapper, const char* signature, Body&& body, OnException&& onException)
    -> decltype(body(true)) {
    try {
        return std::forward<Body>(body)(wrapper.ThreadAttach());
    } catch (MonoObject* exception) {
        const CGcHandle held = cloudsdk::TakeThrownException();  // freed whatever the logging does
        LogException(signature, exception);
        return std::forward<OnException>(onException)();
    }
}

// The same with the plain failure result: false, nothing, or the empty text.
template <class Body>
auto Call(CCloudWrapperPtr& wrapper, const char* signature, Body&& body) -> decltype(body(true)) {
    using Result = decltype(body(true));
    return Call(wrapper, signature, std::forward<Body>(body), [] { return Result(); });
}

// A text argument: a new managed string, or null while the runtime is down (no managed
// value may be made then) or when it could not be made (the invoker then refuses the call).
inline MonoString* Text(bool runtimeUp, const std::string& text) {
    return runtimeUp ? cloudsdk::NewManagedText(text) : nullptr;
}

using cloudsdk::Arguments;
using cloudsdk::ByRef;
using cloudsdk::kNoArguments;

}  // namespace CloudSDKCppBridge::bridge
