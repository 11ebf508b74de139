// A host that opens the shared library with dlopen, uses a bridge through it, closes it
// and goes on: the library is linked -z nodelete, because the runtime's threads keep
// running its code. The host does not link the library; it reaches the bridge through
// the exported symbols alone.
//
// Usage: reliability-dlclose-host <library path> <status> [late]
// Prints one line per round and returns <status> when every round worked. With "late", a
// thread also constructs a bridge and calls it while the process exits, after the
// library's own exit-time clean-up has run: an exit handler registered before the library
// was opened runs after it, lets the thread go and waits for it. (A host thread that
// happens to be inside a call at that moment is in the same place, only by chance.)

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

// The bridge object is one pointer (its wrapper); room for it, suitably aligned.
struct alignas(16) BridgeStorage {
    unsigned char bytes[64];
};

using Constructor = void (*)(void*);
using Destructor = void (*)(void*);
using BoolMethod = bool (*)(void*);
using TextMethod = bool (*)(void*, const std::string&);

template <class Function>
Function Symbol(void* library, const char* name) {
    auto function = reinterpret_cast<Function>(dlsym(library, name));
    if (function == nullptr) {
        std::fprintf(stderr, "symbol %s: %s\n", name, dlerror());
        std::exit(80);
    }
    return function;
}

// Opens the library, constructs a bridge, calls two methods, destroys it, closes the
// library. True when both calls gave their managed results.
bool Round(const char* path, int round) {
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "dlopen: %s\n", dlerror());
        return false;
    }
    auto construct = Symbol<Constructor>(library, "_ZN17CloudSDKCppBridge18CCloudSDKCppBridgeC1Ev");
    auto destroy = Symbol<Destructor>(library, "_ZN17CloudSDKCppBridge18CCloudSDKCppBridgeD1Ev");
    auto check = Symbol<BoolMethod>(library, "_ZN17CloudSDKCppBridge18CCloudSDKCppBridge15CheckConnectionEv");
    auto addItem = Symbol<TextMethod>(
        library, "_ZN17CloudSDKCppBridge18CCloudSDKCppBridge22AddCosmosDBRestoreItemERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE");
    BridgeStorage storage;
    construct(&storage);
    const bool checked = check(&storage);
    const bool added = addItem(&storage, "item " + std::to_string(round));
    destroy(&storage);
    const int closed = dlclose(library);
    std::printf("round %d: check %d add %d close %d\n", round, checked, added, closed);
    return checked && added && closed == 0;
}

std::string g_library;
std::atomic<int> g_lateStage{0};  // 1: go, 2: the late call returned

// The thread that calls once the process is exiting. It keeps its own handle of the
// library (closing it is the exit's business).
void LateCaller() {
    while (g_lateStage.load() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    void* library = dlopen(g_library.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto construct = Symbol<Constructor>(library, "_ZN17CloudSDKCppBridge18CCloudSDKCppBridgeC1Ev");
    auto check = Symbol<BoolMethod>(library, "_ZN17CloudSDKCppBridge18CCloudSDKCppBridge15CheckConnectionEv");
    static BridgeStorage storage;  // left alive: the process is ending
    construct(&storage);
    std::printf("late call: check %d\n", check(&storage));
    std::fflush(stdout);
    g_lateStage = 2;
}

void ReleaseLateCaller() {
    g_lateStage = 1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (g_lateStage.load() != 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s <library> <status> [late]\n", argv[0]);
        return 2;
    }
    g_library = argv[1];
    if (argc == 4) {
        std::atexit(ReleaseLateCaller);  // before the library registers its own clean-up
        std::thread(LateCaller).detach();
    }
    bool all = true;
    for (int round = 0; round < 3; ++round) {
        all = Round(argv[1], round) && all;
    }
    std::fflush(stdout);
    return all ? std::atoi(argv[2]) : 81;
}
