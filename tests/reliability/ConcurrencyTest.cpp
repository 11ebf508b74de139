// Many threads on few and on many bridges, from a cold start, while collections run: every
// call's result is what the managed side answered, no call is lost, and the runtime
// starts once. Then thousands of threads that each live for one call.

#include "MethodCases.h"
#include "ReliabilitySupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace CloudSDKCppBridge;
using reliability::AllMethods;
using reliability::MethodCase;
using reliability::ScriptAnswers;
using testsupport::TestDouble;

namespace {

constexpr int kThreads = 8;
constexpr int kTotalCalls = 100000;

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

TEST(Concurrency, EightThreadsFromAColdStartCallEveryMethodWhileCollectionsRun) {
    ASSERT_FALSE(CCloudWrapperPtr::c_AzuremonoThreadRunning) << "the runtime must not be up yet";
    const std::vector<MethodCase> methods = AllMethods();
    ASSERT_EQ(methods.size(), 32u);

    std::unique_ptr<CCloudSDKCppBridge> shared[2];
    std::unique_ptr<reliability::Collector> collector;
    std::barrier constructed(kThreads, [&]() noexcept {
        // Runs once, on one of the threads, when all have constructed their bridges.
        ScriptAnswers();
        collector = std::make_unique<reliability::Collector>();
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
    if (reliability::kResidentMemoryMeaningful) {
        EXPECT_LT(residentAtEnd - residentAfterWarmUp, 16 * reliability::kMiB)
            << "after 2,000 threads " << residentAfterWarmUp / 1024 << " KiB, after 20,000 " << residentAtEnd / 1024
            << " KiB";
    }
    std::printf("resident memory after 2,000 threads %ld KiB, after 20,000 %ld KiB\n", residentAfterWarmUp / 1024,
                residentAtEnd / 1024);
    // The bridge still works on this thread after all of that.
    std::string endpoint, key;
    EXPECT_TRUE(bridge.GetCosmosDBAuthenticationInfo("account", endpoint, key));
    EXPECT_EQ(testsupport::CountInLog(reliability::kStartupRecord), 1);
}

}  // namespace
