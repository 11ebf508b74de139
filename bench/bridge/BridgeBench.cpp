// What the bridge costs a host: start-up against the mono launcher running an empty
// program (both timed from outside, side by side in each iteration), the resident memory
// of a host with one bridge and its growth over 1,000,000 calls, and the per-call cost of
// representative methods against the test double, each beside the same managed method
// invoked directly (the double's own work plus one invoke), so the difference is the
// bridge's share. Connect is also timed through the bare by-name mechanism (lookup by
// name, override, invoke; no checks), so its ratio to the bridge is what the checks and
// the call pattern add to what every call must do anyway.
//
// Run with CLOUDSDK_HOME=<build>/worlds/normal and CLOUDSDK_LOG=/dev/null (scripts/bench.sh).

#include <CloudSDKCppBridge.h>

#include "host/TextCrossing.h"
#include "platform/MonoAPI.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>
#include <cstdio>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using CloudSDKCppBridge::CCloudSDKCppBridge;
using CloudSDKCppBridge::SString;

constexpr const char* kNamespace = "CloudSDKWrapper";
const std::string kText1 = "https://account-name.documents.example:443/";
const std::string kText2 = "bGlrZSBhIG1hc3RlciBrZXksIGJhc2U2NCBlbmNvZGVk==";
const std::string kText3 = "database-name";
constexpr int kListTexts = 100;

// ---- The in-process bridge and the test double's scripting

CCloudSDKCppBridge& Bridge() {
    static const auto bridge = [] {
        auto b = std::make_unique<CCloudSDKCppBridge>();
        if (!CloudSDKCppBridge::CCloudWrapperPtr::c_AzuremonoInitStatus) {
            std::fprintf(stderr, "the runtime did not start: set CLOUDSDK_HOME to <build>/worlds/normal\n");
            std::exit(1);
        }
        MonoAPI::mono_thread_attach_ptr(g_domain);
        return b;
    }();
    return *bridge;
}

MonoObject* CallStatic(const char* className, const char* method, void** args, int argCount) {
    MonoClass* klass = MonoAPI::mono_class_from_name_ptr(g_image, kNamespace, className);
    MonoMethod* m = klass != nullptr ? MonoAPI::mono_class_get_method_from_name_ptr(klass, method, argCount) : nullptr;
    MonoObject* exception = nullptr;
    MonoObject* result = m != nullptr ? MonoAPI::mono_runtime_invoke_ptr(m, nullptr, args, &exception) : nullptr;
    if (m == nullptr || exception != nullptr) {
        std::fprintf(stderr, "%s.%s could not be called\n", className, method);
        std::exit(1);
    }
    return result;
}

void Script(const std::string& method, const std::string& key, const std::string& value) {
    void* args[] = {std2gc(method), std2gc(key), std2gc(value)};
    CallStatic("TestControl", "Script", args, 3);
}

void ResetDouble() { CallStatic("TestControl", "Reset", nullptr, 0); }

std::string HundredTexts() {
    std::string script = "texts:";
    for (int i = 0; i < kListTexts; ++i) {
        if (i > 0) script += '|';
        script += "container-";
        script += std::to_string(100000 + i);
        script += "-of-the-database";
    }
    return script;
}

// ---- Direct invokes of the double's methods, for the baselines

// A managed object kept from moving and from collection for the life of the process.
MonoObject* Pinned(MonoObject* object) {
    MonoAPI::mono_gchandle_new_ptr(object, 1);
    return object;
}

struct DirectCall {
    MonoObject* target;
    MonoMethod* method;
};

DirectCall Resolve(const char* name, int argCount) {
    Bridge();
    static MonoObject* const wrapper = Pinned(NewManagedObjectAzure("CAzureResourceWrapper", true));
    MonoClass* klass = MonoAPI::mono_object_get_class_ptr(wrapper);
    MonoMethod* declared = MonoAPI::mono_class_get_method_from_name_ptr(klass, name, argCount);
    if (declared == nullptr) {
        std::fprintf(stderr, "no managed method %s\n", name);
        std::exit(1);
    }
    return {wrapper, MonoAPI::mono_object_get_virtual_method_ptr(wrapper, declared)};
}

MonoObject* Invoke(const DirectCall& call, void** args, benchmark::State& state) {
    MonoObject* exception = nullptr;
    MonoObject* result = MonoAPI::mono_runtime_invoke_ptr(call.method, call.target, args, &exception);
    if (exception != nullptr) state.SkipWithError("the managed method raised");
    return result;
}

// ---- Per-call cost

void BM_Bridge_Connect_ThreeTexts(benchmark::State& state) {
    CCloudSDKCppBridge& bridge = Bridge();
    ResetDouble();
    for (auto _ : state) {
        if (!bridge.Connect(kText1, kText2, kText3)) state.SkipWithError("Connect gave false");
    }
}

void BM_Direct_Connect_ThreeTexts(benchmark::State& state) {
    const DirectCall call = Resolve("Connect", 3);
    ResetDouble();
    MonoObject* texts[] = {Pinned((MonoObject*)std2gc(kText1)), Pinned((MonoObject*)std2gc(kText2)),
                           Pinned((MonoObject*)std2gc(kText3))};
    for (auto _ : state) {
        void* args[] = {texts[0], texts[1], texts[2]};
        benchmark::DoNotOptimize(Invoke(call, args, state));
    }
}

// The bare by-name mechanism a bridge call rests on, without the bridge's checks: attach,
// three new managed strings made as the bridge makes them, the method looked up by name on
// the base class, the object taken from its GC handle, the override resolved, the method
// invoked with an exception slot and its Boolean unboxed.
void BM_ByName_Connect_ThreeTexts(benchmark::State& state) {
    Bridge();
    MonoClass* base = MonoAPI::mono_class_from_name_ptr(g_image, kNamespace, "CCloudWrapper");
    const uint32_t handle =
        MonoAPI::mono_gchandle_new_ptr(NewManagedObjectAzure("CAzureResourceWrapper", true), /*pinned=*/0);
    ResetDouble();
    for (auto _ : state) {
        MonoAPI::mono_thread_attach_ptr(g_domain);
        void* args[] = {cloudsdk::NewManagedText(kText1), cloudsdk::NewManagedText(kText2),
                        cloudsdk::NewManagedText(kText3)};
        MonoMethod* method = MonoAPI::mono_class_get_method_from_name_ptr(base, "Connect", -1);
        MonoObject* object = MonoAPI::mono_gchandle_get_target_ptr(handle);
        MonoMethod* resolved = MonoAPI::mono_object_get_virtual_method_ptr(object, method);
        MonoObject* exception = nullptr;
        MonoObject* result = MonoAPI::mono_runtime_invoke_ptr(resolved, object, args, &exception);
        if (exception != nullptr || result == nullptr || *static_cast<uint8_t*>(MonoAPI::mono_object_unbox_ptr(result)) == 0) {
            state.SkipWithError("Connect gave no true");
        }
    }
}

void BM_Bridge_CountItems_ByReference(benchmark::State& state) {
    CCloudSDKCppBridge& bridge = Bridge();
    ResetDouble();
    Script("CountItems", "ref1", "1234567890123");
    for (auto _ : state) {
        long long count = 0;
        if (!bridge.CountItems(count) || count != 1234567890123LL) state.SkipWithError("CountItems gave no count");
    }
}

void BM_Direct_CountItems_ByReference(benchmark::State& state) {
    const DirectCall call = Resolve("CountItems", 1);
    ResetDouble();
    Script("CountItems", "ref1", "1234567890123");
    for (auto _ : state) {
        long long count = 0;
        void* args[] = {&count};
        Invoke(call, args, state);
        if (count != 1234567890123LL) state.SkipWithError("CountItems wrote no count");
    }
}

void BM_Bridge_ListDatabases_100Texts(benchmark::State& state) {
    CCloudSDKCppBridge& bridge = Bridge();
    ResetDouble();
    Script("ListCosmosDBDatabases", "result", HundredTexts());
    std::vector<SString> databases;
    for (auto _ : state) {
        if (!bridge.ListCosmosDBDatabases(kText1, kText2, false, databases) || databases.size() != kListTexts) {
            state.SkipWithError("the list did not come back whole");
        }
    }
    state.SetItemsProcessed(state.iterations() * kListTexts);
}

void BM_Direct_ListDatabases_100Texts(benchmark::State& state) {
    const DirectCall call = Resolve("ListCosmosDBDatabases", 3);
    ResetDouble();
    Script("ListCosmosDBDatabases", "result", HundredTexts());
    MonoObject* account = Pinned((MonoObject*)std2gc(kText1));
    MonoObject* key = Pinned((MonoObject*)std2gc(kText2));
    for (auto _ : state) {
        bool option = false;
        void* args[] = {account, key, &option};
        if (Invoke(call, args, state) == nullptr) state.SkipWithError("no list");
    }
    state.SetItemsProcessed(state.iterations() * kListTexts);
}

// ---- Processes: start-up and resident memory

// Runs `argv` with this process's environment; returns its exit status (-1: did not run)
// and, when `output` is given, what it wrote to standard output.
int Run(const std::vector<std::string>& argv, std::string* output = nullptr) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int pipeEnds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output != nullptr && pipe(pipeEnds) == 0) {
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    }
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (pipeEnds[1] >= 0) close(pipeEnds[1]);
    if (pipeEnds[0] >= 0) {
        char buffer[512];
        ssize_t n;
        while ((n = read(pipeEnds[0], buffer, sizeof buffer)) > 0) output->append(buffer, static_cast<size_t>(n));
        close(pipeEnds[0]);
    }
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

long long MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

double MillisecondsSince(long long startNs, long long endNs) { return static_cast<double>(endNs - startNs) / 1e6; }

// Each iteration starts the host, the mono launcher and the runtime floor one after the
// other, so all see the same machine load; the counters are mean wall times, from spawn to
// exit, and the ratio. The host also says when its bridge was made and when its first call
// returned.
void BM_Startup_HostVsMono(benchmark::State& state) {
    double hostMs = 0, monoMs = 0, floorMs = 0, bridgeMs = 0, firstCallMs = 0;
    for (auto _ : state) {
        std::string stamps;
        long long made = 0, returned = 0;
        const long long hostStart = MonotonicNs();
        if (Run({CLOUDSDK_TINY_HOST}, &stamps) != 0 || std::sscanf(stamps.c_str(), "stamps %lld %lld", &made, &returned) != 2) {
            state.SkipWithError("the host did not make its first call");
        }
        const long long hostEnd = MonotonicNs();
        if (Run({CLOUDSDK_MONO, CLOUDSDK_EMPTY_EXE}) != 0) state.SkipWithError("mono did not run the empty program");
        const long long monoEnd = MonotonicNs();
        monoMs += MillisecondsSince(hostEnd, monoEnd);
        if (Run({CLOUDSDK_RUNTIME_FLOOR}) != 0) state.SkipWithError("the runtime did not start on its own");
        floorMs += MillisecondsSince(monoEnd, MonotonicNs());
        hostMs += MillisecondsSince(hostStart, hostEnd);
        bridgeMs += MillisecondsSince(hostStart, made);
        firstCallMs += MillisecondsSince(made, returned);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["host_ms"] = hostMs / n;
    state.counters["host_bridge_made_ms"] = bridgeMs / n;
    state.counters["host_first_call_ms"] = firstCallMs / n;
    state.counters["mono_empty_ms"] = monoMs / n;
    state.counters["runtime_start_only_ms"] = floorMs / n;
    state.counters["host_over_mono"] = hostMs / monoMs;
}

// A fresh host: resident memory after its first call, after a tenth of the calls (the
// runtime's heap has reached its working size) and after all of them.
void BM_ResidentMemory_OneMillionCalls(benchmark::State& state) {
    long first = 0, tenth = 0, end = 0;
    for (auto _ : state) {
        std::string output;
        if (Run({CLOUDSDK_TINY_HOST, "1000000"}, &output) != 0 ||
            std::sscanf(output.c_str(), "rss_kib %ld %ld %ld", &first, &tenth, &end) != 3) {
            state.SkipWithError("the host did not report its memory");
        }
    }
    state.counters["rss_first_call_MiB"] = first / 1024.0;
    state.counters["rss_after_100k_MiB"] = tenth / 1024.0;
    state.counters["rss_after_1M_MiB"] = end / 1024.0;
    state.counters["growth_1M_KiB"] = static_cast<double>(end - first);
    state.counters["growth_100k_to_1M_KiB"] = static_cast<double>(end - tenth);
}

}  // namespace

BENCHMARK(BM_Bridge_Connect_ThreeTexts);
BENCHMARK(BM_ByName_Connect_ThreeTexts);
BENCHMARK(BM_Direct_Connect_ThreeTexts);
BENCHMARK(BM_Bridge_CountItems_ByReference);
BENCHMARK(BM_Direct_CountItems_ByReference);
BENCHMARK(BM_Bridge_ListDatabases_100Texts);
BENCHMARK(BM_Direct_ListDatabases_100Texts);
BENCHMARK(BM_Startup_HostVsMono)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ResidentMemory_OneMillionCalls)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
