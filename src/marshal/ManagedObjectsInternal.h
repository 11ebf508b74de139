#pragma once

// Object creation shared by the exported creation functions and the list filler, which
// already holds the element class and should not look it up again for every record.
//
// REQUIRES: the runtime up and the calling thread attached.

#include <CloudSDKCppBridge/MonoTypes.h>

namespace cloudsdk::marshal {

// The namespace of every class of the wrapper assembly.
inline constexpr const char* kWrapperNamespace = "CloudSDKWrapper";

// The class `name` of the wrapper assembly, or null with "Could not find class" logged.
MonoClass* FindWrapperClass(const char* name);

// A new object of `klass` (whose name is used in messages). With `runConstructor` the
// parameterless constructor runs with an exception slot: a throwing constructor gives
// null and a log record instead of ending the process. Without it every field is zero.
MonoObject* NewObjectOfClass(MonoClass* klass, bool runConstructor);

}  // namespace cloudsdk::marshal
