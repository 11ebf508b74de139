// Many threads on few and on many bridges, from a cold start, while collections run: every
// call's result is what the managed side answered, no call is lost, and the runtime
// starts once. Then thousands of threads that each live for one call.

#include "ReliabilitySupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace CloudSDKCppBridge;
using testsupport::TestDouble;

namespace {

constexpr int kThreads = 8;
constexpr int kTotalCalls = 100000;

// One method: its managed name, the call, and the check of what came back. A check
// returns an empty text when the result is right, else what was wrong.
struct MethodCase {
    const char* managedName;
    std::function<std::string(CCloudSDKCppBridge&, const std::string& tag)> callAndCheck;
};

std::string Expect(bool ok, const char* what) { return ok ? std::string() : std::string(what); }

std::string Texts(const std::vector<SString>& texts) {
    std::string joined;
    for (const SString& t : texts) {
        joined += t.strValue + "|";
    }
    return joined;
}

// What each scripted method answers during the concurrent phase. Fixed for the whole
// phase, so every call of a method has one right answer.
void ScriptAnswers() {
    TestDouble::Reset();
    TestDouble::Script("GetLastErrorString", "result", "string:caf\\u00e9 \\uD83D\\uDE00");
    TestDouble::Script("getAssemblyResolverDisabled", "result", "false");
    TestDouble::Script("GetDatabaseAccountInfoList", "result", "accounts:a1,Sql,westeurope|a2,Mongo,northeurope");
    TestDouble::Script("GetDatabaseAccountInfoListForRegion", "result", "accounts:r1,Sql,eastus");
    TestDouble::Script("GetCosmosDBAuthenticationInfo", "ref2", "https://endpoint/");
    TestDouble::Script("GetCosmosDBAuthenticationInfo", "ref3", "key==");
    TestDouble::Script("ListCosmosDBDatabases", "result", "texts:db1|db2|\\u00fc");
    TestDouble::Script("ListCosmosDBContainers", "result", "texts:c1|c2");
    TestDouble::Script("DescribeCosmosDBContainer", "ref1", "/pk");
    TestDouble::Script("DescribeCosmosDBContainer", "ref2", "400");
    TestDouble::Script("DescribeCosmosDBContainer", "ref5", "-4");
    TestDouble::Script("DescribeCosmosDBContainer", "ref6", "policy");
    TestDouble::Script("CountItems", "ref1", "123456789012");
    TestDouble::Script("ObtainContainerStatistics", "ref1", "11");
    TestDouble::Script("ObtainContainerStatistics", "ref2", "22");
    TestDouble::Script("ObtainContainerStatistics", "ref3", "stats");
    TestDouble::Script("IsEmpty", "ref1", "true");
    TestDouble::Script("GetCosmosDBTokens", "result", "texts:t1|t2");
    TestDouble::Script("GetCosmosDBData", "ref3", "continuation");
    TestDouble::Script("GetCosmosDBData", "ref4", "true");
    TestDouble::Script("GetCosmosDBData", "result", "texts:d1|d2|d3");
    TestDouble::Script("BackupAttachedScripts", "ref2", "3");
    TestDouble::Script("BackupAttachedScripts", "ref3", "scripts");
    TestDouble::Script("CreateCosmosDBContainer", "ref7", "4000");
    TestDouble::Script("CreateCosmosDBContainer", "ref8", "5");
    TestDouble::Script("FlushCosmosDBRestore", "result", "false");
    TestDouble::Script("ChangeCosmosDBThroughput", "ref3", "800");
}

std::vector<MethodCase> AllMethods() {
    return {
        {"Initialize", [](auto& b, auto& tag) { return Expect(b.Initialize(tag, tag + "/dir", 7, 0), "result"); }},
        {"Connect", [](auto& b, auto& tag) { return Expect(b.Connect(tag + "-a", tag + "-k", tag + "-o"), "result"); }},
        {"SetWebProxy", [](auto& b, auto& tag) { b.SetWebProxy(tag, "user", "password"); return std::string(); }},
        {"UseStdout", [](auto& b, auto&) { b.UseStdout(); return std::string(); }},
        {"Disconnect", [](auto& b, auto&) { b.Disconnect(); return std::string(); }},
        {"CheckConnection", [](auto& b, auto&) { return Expect(b.CheckConnection(), "result"); }},
        {"GetLastErrorString",
         [](auto& b, auto&) { return Expect(b.GetLastErrorString() == "caf\xC3\xA9 \xF0\x9F\x98\x80", "text"); }},
        {"setAssemblyResolverDisabled",
         [](auto& b, auto&) { b.SetAssemblyResolverDisabled(true); return std::string(); }},
        {"getAssemblyResolverDisabled",
         [](auto& b, auto&) { return Expect(!b.GetAssemblyResolverDisabled(), "result"); }},
        {"GetDatabaseAccountInfoList",
         [](auto& b, auto& tag) {
             std::vector<SStorageAccountInfo> v{{"old", "", ""}};
             const bool r = b.GetDatabaseAccountInfoList(tag, CosmosDBBrowseKind1, v);
             return Expect(r && v.size() == 2 && v[0].strName == "a1" && v[1].strLocation == "northeurope",
                           "accounts");
         }},
        {"GetDatabaseAccountInfoListForRegion",
         [](auto& b, auto& tag) {
             std::vector<SStorageAccountInfo> v;
             const bool r = b.GetDatabaseAccountInfoListForRegion(tag, CosmosDBBrowseKind2, v);
             return Expect(r && v.size() == 1 && v[0].strAccountType == "Sql", "accounts");
         }},
        {"GetCosmosDBAuthenticationInfo",
         [](auto& b, auto& tag) {
             std::string endpoint, key;
             const bool r = b.GetCosmosDBAuthenticationInfo(tag, endpoint, key);
             return Expect(r && endpoint == "https://endpoint/" && key == "key==", "texts");
         }},
        {"ListCosmosDBDatabases",
         [](auto& b, auto& tag) {
             std::vector<SString> v;
             const bool r = b.ListCosmosDBDatabases(tag, "key", true, v);
             return Expect(r && Texts(v) == "db1|db2|\xC3\xBC|", "list");
         }},
        {"ListCosmosDBContainers",
         [](auto& b, auto& tag) {
             std::vector<SString> v{{"stale"}};
             const bool r = b.ListCosmosDBContainers(tag, "key", "db", false, v);
             return Expect(r && Texts(v) == "c1|c2|", "list");
         }},
        {"OpenCosmosDBContainer",
         [](auto& b, auto& tag) { return Expect(b.OpenCosmosDBContainer(tag, "k", true, "db", "c"), "result"); }},
        {"DescribeCosmosDBContainer",
         [](auto& b, auto&) {
             std::string pk, policy;
             CosmosDBThroughput t{1, 2, 3, 4};
             const bool r = b.DescribeCosmosDBContainer(pk, t, policy);
             return Expect(r && pk == "/pk" && policy == "policy" && t.nValue1 == 400 && t.nValue2 == 2 &&
                               t.nValue4 == -4,
                           "out-values");
         }},
        {"CountItems",
         [](auto& b, auto&) {
             long long n = 0;
             return Expect(b.CountItems(n) && n == 123456789012LL, "count");
         }},
        {"ObtainContainerStatistics",
         [](auto& b, auto&) {
             long long a = 0, c = 0;
             std::string s;
             return Expect(b.ObtainContainerStatistics(a, c, s) && a == 11 && c == 22 && s == "stats", "statistics");
         }},
        {"IsEmpty",
         [](auto& b, auto&) {
             bool empty = false;
             return Expect(b.IsEmpty(empty) && empty, "flag");
         }},
        {"GetCosmosDBTokens",
         [](auto& b, auto&) {
             std::vector<SString> v;
             return Expect(b.GetCosmosDBTokens(-1, v) && Texts(v) == "t1|t2|", "tokens");
         }},
        {"GetCosmosDBData",
         [](auto& b, auto& tag) {
             std::string next;
             bool more = true;
             std::vector<SString> v;
             const bool r = b.GetCosmosDBData(tag, 100, next, more, v);
             return Expect(r && next == "continuation" && !more && Texts(v) == "d1|d2|d3|", "page");
         }},
        {"BackupAttachedScripts",
         [](auto& b, auto&) {
             int n = 0;
             std::string s;
             return Expect(b.BackupAttachedScripts(true, n, s) && n == 3 && s == "scripts", "scripts");
         }},
        {"CreateCosmosDBDatabase",
         [](auto& b, auto& tag) { return Expect(b.CreateCosmosDBDatabase(tag, "k", true, "db", 400, 0, false), "result"); }},
        {"CreateCosmosDBContainer",
         [](auto& b, auto& tag) {
             CosmosDBThroughput t{1, 2, 3, 4};
             const bool r = b.CreateCosmosDBContainer(tag, "k", false, "db", "c", "/pk", t, true);
             return Expect(r && t.nValue1 == 4000 && t.nValue2 == 5 && t.nValue3 == 3, "throughput");
         }},
        {"RemoveCosmosDBContainer",
         [](auto& b, auto& tag) { return Expect(b.RemoveCosmosDBContainer(tag, "k", true, "db", "c"), "result"); }},
        {"StartCosmosDBRestore", [](auto& b, auto& tag) { return Expect(b.StartCosmosDBRestore(2, tag), "result"); }},
        {"AddCosmosDBRestoreItems",
         [](auto& b, auto& tag) { return Expect(b.AddCosmosDBRestoreItems({{tag}, {"{}"}}), "result"); }},
        {"AddCosmosDBRestoreItem", [](auto& b, auto& tag) { return Expect(b.AddCosmosDBRestoreItem(tag), "result"); }},
        {"FlushCosmosDBRestore", [](auto& b, auto&) { return Expect(!b.FlushCosmosDBRestore(), "result"); }},
        {"RestoreAttachedScripts",
         [](auto& b, auto& tag) { return Expect(b.RestoreAttachedScripts(tag, false), "result"); }},
        {"RemoveAllTriggers", [](auto& b, auto&) { return Expect(b.RemoveAllTriggers(), "result"); }},
        {"ChangeCosmosDBThroughput",
         [](auto& b, auto&) {
             int now = 0;
             return Expect(b.ChangeCosmosDBThroughput(800, 0, now) && now == 800, "throughput");
         }},
    };
}

// What the worker threads found wrong, gathered for one report.
class Failures {
public:
    void Add(const std::string& failure) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_count++ < 20) {
            m_first += failure + "\n";
        }
    }
    int Count() const { return m_count; }
    const std::string& First() const { return m_first; }

private:
    std::mutex m_mutex;
    int m_count = 0;
    std::string m_first;
};

// Forces collections until told to stop; counts them.
class Collector {
public:
    Collector()
        : m_thread([this] {
              reliability::AttachThisThread();
              while (!m_stop.load()) {
                  TestDouble::Collect();
                  ++m_collections;
              }
          }) {}
    ~Collector() { Stop(); }
    int Stop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
        return m_collections.load();
    }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_collections{0};
    std::thread m_thread;
};

TEST(Concurrency, EightThreadsFromAColdStartCallEveryMethodWhileCollectionsRun) {
    ASSERT_FALSE(CCloudWrapperPtr::c_AzuremonoThreadRunning) << "the runtime must not be up yet";
    const std::vector<MethodCase> methods = AllMethods();
    ASSERT_EQ(methods.size(), 32u);

    std::unique_ptr<CCloudSDKCppBridge> shared[2];
    std::unique_ptr<Collector> collector;
    std::barrier constructed(kThreads, [&]() noexcept {
        // Runs once, on one of the threads, when all have constructed their bridges.
        ScriptAnswers();
        collector = std::make_unique<Collector>();
    });
    std::vector<std::vector<int>> calls(kThreads, std::vector<int>(methods.size(), 0));
    Failures failures;

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // The first constructions of the process, all at once.
            CCloudSDKCppBridge own;
            if (t < 2) {
                shared[t] = std::make_unique<CCloudSDKCppBridge>();
            }
            constructed.arrive_and_wait();
            const std::string tag = "thread" + std::to_string(t);
            for (int i = 0; i < kTotalCalls / kThreads; ++i) {
                const size_t m = static_cast<size_t>(i + t) % methods.size();
                // Alternate between this thread's bridge and one shared with three others.
                CCloudSDKCppBridge& bridge = (i / methods.size()) % 2 == 0 ? own : *shared[t % 2];
                const std::string wrong = methods[m].callAndCheck(bridge, tag);
                ++calls[t][m];
                if (!wrong.empty()) {
                    failures.Add(tag + " call " + std::to_string(i) + " " + methods[m].managedName + ": " + wrong);
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const int collections = collector->Stop();
    reliability::AttachThisThread();  // this thread made no call of its own

    EXPECT_EQ(failures.Count(), 0) << failures.First();
    EXPECT_GT(collections, 0) << "no collection ran during the calls";
    std::printf("%d collections during %d calls\n", collections, kTotalCalls);
    int total = 0;
    for (size_t m = 0; m < methods.size(); ++m) {
        int made = 0;
        for (int t = 0; t < kThreads; ++t) {
            made += calls[t][m];
        }
        total += made;
        EXPECT_EQ(TestDouble::CallCount(methods[m].managedName), made) << methods[m].managedName;
    }
    EXPECT_EQ(total, kTotalCalls);
    // Each call's arguments arrived as one thread passed them, never mixed between threads.
    const std::string connect = TestDouble::LastCall("Connect");
    bool fromOneThread = false;
    for (int t = 0; t < kThreads; ++t) {
        const std::string tag = "thread" + std::to_string(t);
        fromOneThread |= connect == "\"" + tag + "-a\"|\"" + tag + "-k\"|\"" + tag + "-o\"";
    }
    EXPECT_TRUE(fromOneThread) << connect;
    EXPECT_EQ(testsupport::CountInLog(reliability::kStartupRecord), 1) << testsupport::ReadLog();
    EXPECT_EQ(testsupport::CountInLog("ERROR"), 0) << testsupport::LogLinesWith("ERROR");
}

TEST(Concurrency, TwentyThousandShortLivedThreadsEachCallOnce) {
    constexpr int kShortLived = 20000;
    constexpr int kAlive = 8;
    CCloudSDKCppBridge bridge;
    ASSERT_TRUE(CCloudWrapperPtr::c_AzuremonoInitStatus);
    TestDouble::Reset();
    TestDouble::Script("GetCosmosDBAuthenticationInfo", "ref2", "endpoint");
    TestDouble::Script("GetCosmosDBAuthenticationInfo", "ref3", "key");
    std::atomic<int> right{0};
    long residentAfterWarmUp = 0;
    for (int started = 0; started < kShortLived; started += kAlive) {
        std::vector<std::thread> batch;
        for (int k = 0; k < kAlive; ++k) {
            // A new thread, unknown to the runtime: the call attaches it; it exits attached.
            batch.emplace_back([&] {
                std::string endpoint, key;
                if (bridge.GetCosmosDBAuthenticationInfo("account", endpoint, key) && endpoint == "endpoint" &&
                    key == "key") {
                    ++right;
                }
            });
        }
        for (auto& thread : batch) {
            thread.join();
        }
        if (started + kAlive == 2000) {
            residentAfterWarmUp = reliability::ResidentBytes();
        }
    }
    reliability::CollectFully();
    const long residentAtEnd = reliability::ResidentBytes();
    EXPECT_EQ(right.load(), kShortLived);
    EXPECT_EQ(TestDouble::CallCount("GetCosmosDBAuthenticationInfo"), kShortLived);
    EXPECT_LT(residentAtEnd - residentAfterWarmUp, 16 * reliability::kMiB)
        << "after 2,000 threads " << residentAfterWarmUp / 1024 << " KiB, after 20,000 " << residentAtEnd / 1024
        << " KiB";
    std::printf("resident memory after 2,000 threads %ld KiB, after 20,000 %ld KiB\n", residentAfterWarmUp / 1024,
                residentAtEnd / 1024);
    // The bridge still works on this thread after all of that.
    std::string endpoint, key;
    EXPECT_TRUE(bridge.GetCosmosDBAuthenticationInfo("account", endpoint, key));
    EXPECT_EQ(testsupport::CountInLog(reliability::kStartupRecord), 1);
}

}  // namespace
