#pragma once

// The runtime's entry table. The library never links the runtime: Initialize() opens
// Debian's Mono with dlopen and fills one pointer per function of MonoApiList.h, reached
// as MonoAPI::<runtime name>_ptr. After a successful Initialize() the pointers are valid
// for the life of the process and are called unchecked.

#include <CloudSDKCppBridge/MonoTypes.h>

// The runtime's own declarations, for the library's sources only: the public header
// declares the few handle types a host sees without them.
#include <mono/jit/jit.h>
#include <mono/metadata/appdomain.h>
#include <mono/metadata/assembly.h>
#include <mono/metadata/class.h>
#include <mono/metadata/debug-helpers.h>
#include <mono/metadata/image.h>
#include <mono/metadata/metadata.h>
#include <mono/metadata/mono-config.h>
#include <mono/metadata/mono-gc.h>
#include <mono/metadata/object.h>
#include <mono/metadata/threads.h>

#include "platform/MonoApiList.h"

namespace MonoAPI {

#define CLOUDSDK_DECLARE_MONO_ENTRY(name) extern decltype(&::name) name##_ptr;
CLOUDSDK_MONO_API_LIST(CLOUDSDK_DECLARE_MONO_ENTRY)
#undef CLOUDSDK_DECLARE_MONO_ENTRY

// Loads the runtime and resolves every entry. Logs each missing entry by name and returns
// false if any is missing or the runtime cannot be opened.
// REQUIRES: no concurrent call (the runtime start-up calls it once, on the host thread).
bool Initialize();

}  // namespace MonoAPI
