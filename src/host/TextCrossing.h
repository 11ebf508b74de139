#pragma once

// The text crossings behind std2gc and gc2std, for callers that have entered the runtime
// already (a bridge call, a list walk): the exported pair checks that first on every call.

#include <CloudSDKCppBridge/MonoTypes.h>

#include <string>

namespace cloudsdk {

// A new managed string of the UTF-8 text `text` (invalid sequences become U+FFFD, a zero
// byte ends it), or null (logged) when the runtime cannot make it.
MonoString* NewManagedText(const std::string& text);

// The UTF-8 form of `text` (lone surrogates become U+FFFD); null gives "".
std::string NativeText(MonoString* text);

}  // namespace cloudsdk
