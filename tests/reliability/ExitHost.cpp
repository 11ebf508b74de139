// A host process for the exit tests: it uses only the public header and the shared
// library, brings the runtime up, puts other threads inside bridge calls in one of
// several ways, and then leaves main while they are still there. The test that runs it
// checks that the process ends with the status chosen here, and soon.
//
// Usage: reliability-exit-host <scenario> <status>
//   starting-return / starting-exit
//                                  the first bridge is being constructed on another
//                                  thread (the runtime starting) when main leaves
//   idle-return / idle-exit        one call, then return / exit() while the runtime's
//                                  host thread sleeps
//   blocked-return / blocked-exit  four threads inside a managed call that blocks
//   held-return                    four threads inside an account listing that waits for
//                                  the hold file (native sleep inside the call)
//   busy-return / busy-exit        threads constructing bridges and calling methods in a
//                                  loop, one forcing collections, when main leaves
//   constructing-return / constructing-exit
//                                  threads constructing and destroying bridges in a loop
//   masked-<scenario>              <scenario> with every signal blocked in every thread
//   busy-thread-exit               the same, but one of the busy threads calls exit()
//
// Scripting the test double needs the runtime's own functions: the runtime is loaded
// globally by the library, so they are found with dlsym once a bridge exists.

#include <CloudSDKCppBridge.h>

#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace CloudSDKCppBridge;

namespace {

template <class Function>
Function Runtime(const char* name) {
    auto* function = reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
    if (function == nullptr) {
        std::fprintf(stderr, "runtime function %s not found\n", name);
        std::_Exit(90);
    }
    return function;
}

// Calls a static method of the test double's TestControl; ends the process on failure.
MonoObject* CallTestControl(const char* method, void** args, int count) {
    auto fromName = Runtime<MonoClass* (*)(MonoImage*, const char*, const char*)>("mono_class_from_name");
    auto methodFromName = Runtime<MonoMethod* (*)(MonoClass*, const char*, int)>("mono_class_get_method_from_name");
    auto invoke = Runtime<MonoObject* (*)(MonoMethod*, void*, void**, MonoObject**)>("mono_runtime_invoke");
    MonoClass* control = fromName(g_image, "CloudSDKWrapper", "TestControl");
    MonoMethod* m = control != nullptr ? methodFromName(control, method, count) : nullptr;
    if (m == nullptr) {
        std::fprintf(stderr, "TestControl.%s not found\n", method);
        std::_Exit(91);
    }
    MonoObject* exception = nullptr;
    MonoObject* result = invoke(m, nullptr, args, &exception);
    if (exception != nullptr) {
        std::fprintf(stderr, "TestControl.%s raised\n", method);
        std::_Exit(92);
    }
    return result;
}

void Script(const char* method, const char* key, const char* value) {
    void* args[] = {std2gc(method), std2gc(key), std2gc(value)};
    CallTestControl("Script", args, 3);
}

int CallCount(const char* method) {
    void* args[] = {std2gc(method)};
    auto unbox = Runtime<void* (*)(MonoObject*)>("mono_object_unbox");
    return *static_cast<int*>(unbox(CallTestControl("CallCount", args, 1)));
}

void Collect() { CallTestControl("Collect", nullptr, 0); }

// Waits until `method` has been entered `count` times (the threads are inside it).
void AwaitCalls(const char* method, int count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (CallCount(method) < count) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "the threads did not enter %s\n", method);
            std::_Exit(93);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Starts `count` detached threads running `body`; the process leaves with them inside.
template <class Body>
void Detached(int count, Body body) {
    for (int i = 0; i < count; ++i) {
        std::thread(body, i).detach();
    }
}

// One pass over a mix of methods with results that the loop does not need.
void CallMix(CCloudSDKCppBridge& bridge) {
    std::vector<SString> texts;
    std::string a, b;
    long long n = 0;
    bridge.Connect("account", "key", "options");
    bridge.CheckConnection();
    bridge.ListCosmosDBDatabases("account", "key", true, texts);
    bridge.GetCosmosDBAuthenticationInfo("account", a, b);
    bridge.CountItems(n);
    bridge.AddCosmosDBRestoreItems({{"one"}, {"two"}});
    bridge.GetLastErrorString();
}

int Leave(bool viaExit, int status) {
    std::fflush(stdout);
    if (viaExit) {
        std::exit(status);
    }
    return status;
}

std::atomic<bool> g_started{false};
CCloudSDKCppBridge* shared = nullptr;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <scenario> <status>\n", argv[0]);
        return 2;
    }
    std::string scenario = argv[1];
    const int status = std::atoi(argv[2]);
    if (scenario.starts_with("masked-")) {
        // As a server sets up: every signal blocked before any other thread exists.
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
        scenario = scenario.substr(7);
    }
    const bool viaExit = scenario.ends_with("-exit");

    if (scenario.starts_with("starting-")) {
        // The first bridge is still being constructed (the runtime starting) when main
        // leaves; how far it got varies with the status, which differs from run to run.
        std::thread([] { CCloudSDKCppBridge first; first.CheckConnection(); }).detach();
        std::this_thread::sleep_for(std::chrono::microseconds(500 * (status % 20)));
        return Leave(viaExit, status);
    }
    // Never destroyed: the threads below use it until the process is gone.
    shared = new CCloudSDKCppBridge;
    if (!shared->CheckConnection()) {
        std::fprintf(stderr, "the runtime did not come up\n");
        return 94;
    }

    if (scenario.starts_with("idle-")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return Leave(viaExit, status);
    }
    if (scenario.starts_with("blocked-")) {
        Script("CountItems", "block", "60000");
        Detached(4, [](int) {
            long long n = 0;
            shared->CountItems(n);
        });
        AwaitCalls("CountItems", 4);
        return Leave(viaExit, status);
    }
    if (scenario == "held-return") {
        // The hold file is looked for in the working directory, which the test chose.
        if (FILE* hold = std::fopen("c:\\cloudinfo.sleep", "w")) {
            std::fclose(hold);
        }
        Detached(4, [](int) {
            std::vector<SStorageAccountInfo> accounts;
            CCloudSDKCppBridge own;
            own.GetDatabaseAccountInfoList("", CosmosDBBrowseDefault, accounts);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const int leaving = Leave(false, status);
        std::remove("c:\\cloudinfo.sleep");
        return leaving;
    }
    if (scenario.starts_with("constructing-")) {
        Detached(4, [](int) {
            for (;;) {
                CCloudSDKCppBridge own;
                g_started = true;
            }
        });
        while (!g_started) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return Leave(viaExit, status);
    }
    if (scenario.starts_with("busy-")) {
        const bool threadExits = scenario == "busy-thread-exit";
        Detached(4, [threadExits, status](int i) {
            for (int round = 0;; ++round) {
                CCloudSDKCppBridge own;
                CallMix(own);
                CallMix(*shared);
                g_started = true;
                if (threadExits && i == 0 && round == 20) {
                    std::exit(status);
                }
            }
        });
        Detached(1, [](int) {
            Runtime<void* (*)(MonoDomain*)>("mono_thread_attach")(g_domain);
            for (;;) {
                Collect();
            }
        });
        while (!g_started) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (threadExits) {
            for (;;) {
                pause();
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return Leave(viaExit, status);
    }
    std::fprintf(stderr, "unknown scenario %s\n", scenario.c_str());
    return 2;
}
