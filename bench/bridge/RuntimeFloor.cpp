// The floor under any host of this runtime: open it and start it, nothing more (no
// assembly, no object, no call). The start-up benchmark times it beside the bridge host
// and the mono launcher, so the bridge's own share of start-up can be read off.

#include <dlfcn.h>

#include <cstdio>

int main() {
    void* runtime = dlopen("libmono-2.0.so.1", RTLD_NOW | RTLD_GLOBAL);
    if (runtime == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    using ConfigParse = void (*)(const char*);
    using JitInit = void* (*)(const char*);
    auto configParse = reinterpret_cast<ConfigParse>(dlsym(runtime, "mono_config_parse"));
    auto jitInit = reinterpret_cast<JitInit>(dlsym(runtime, "mono_jit_init"));
    if (configParse == nullptr || jitInit == nullptr) return 1;
    configParse(nullptr);
    return jitInit("runtime-floor") != nullptr ? 0 : 1;
}
