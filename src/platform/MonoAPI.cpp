#include "platform/MonoAPI.h"

#include <CloudSDKCppBridge.h>

#include <dlfcn.h>

namespace MonoAPI {

#define CLOUDSDK_DEFINE_MONO_ENTRY(name) decltype(&::name) name##_ptr = nullptr;
CLOUDSDK_MONO_API_LIST(CLOUDSDK_DEFINE_MONO_ENTRY)
#undef CLOUDSDK_DEFINE_MONO_ENTRY

namespace {

// libmono-2.0.so.1 exists only with Debian's libmono-2.0-1; the runtime proper is
// libmonosgen. RTLD_GLOBAL: the runtime's own libmono-native.so resolves mono_* symbols
// through the global scope, and managed file calls fail without it.
void* OpenRuntime() {
    for (const char* name : {"libmono-2.0.so.1", "libmonosgen-2.0.so.1"}) {
        if (void* handle = dlopen(name, RTLD_NOW | RTLD_GLOBAL)) {
            return handle;
        }
        g_debug.debug("Could not open runtime library [%s]: %s", name, dlerror());
    }
    return nullptr;
}

bool ResolveEntries(void* runtime) {
    bool complete = true;
#define CLOUDSDK_RESOLVE_MONO_ENTRY(name)                                        \
    name##_ptr = reinterpret_cast<decltype(&::name)>(dlsym(runtime, #name));     \
    if (name##_ptr == nullptr) {                                                 \
        g_debug.error("Could not resolve runtime entry [%s]", #name);            \
        complete = false;                                                        \
    }
    CLOUDSDK_MONO_API_LIST(CLOUDSDK_RESOLVE_MONO_ENTRY)
#undef CLOUDSDK_RESOLVE_MONO_ENTRY
    return complete;
}

}  // namespace

bool Initialize() {
    void* runtime = OpenRuntime();
    if (runtime == nullptr) {
        g_debug.error("Could not open the Mono runtime");
        return false;
    }
    return ResolveEntries(runtime);
}

}  // namespace MonoAPI
