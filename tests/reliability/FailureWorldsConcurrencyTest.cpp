// Worlds where the runtime or the managed wrapper object cannot be had, under concurrent
// use: eight threads construct bridges, call methods and retry Initialize (which tries to
// make the managed object again) on shared and own bridges at once. Every call fails
// with its plain failure result, the start-up happens once, and nothing crashes.

#include "ReliabilitySupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace CloudSDKCppBridge;

namespace {

TEST(FailureWorldConcurrency, EightThreadsGetFailureResultsAndTheStartUpHappensOnce) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 300;
    auto shared = std::make_unique<CCloudSDKCppBridge>();
    std::atomic<int> succeeded{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            CCloudSDKCppBridge own;
            for (int round = 0; round < kRounds; ++round) {
                CCloudSDKCppBridge& b = round % 2 == 0 ? own : *shared;
                long long count = 0;
                std::vector<SString> texts;
                std::string endpoint, key;
                succeeded += b.Initialize("a", "b", 1, 0);
                succeeded += b.Connect("a", "b", "c");
                succeeded += b.CountItems(count);
                succeeded += b.ListCosmosDBDatabases("a", "b", true, texts);
                succeeded += b.GetCosmosDBAuthenticationInfo("a", endpoint, key);
                succeeded += b.AddCosmosDBRestoreItems({{"x"}});
                succeeded += !b.GetLastErrorString().empty() && b.GetLastErrorString() != "Mono framework is not initialized";
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(succeeded.load(), 0);
    EXPECT_EQ(testsupport::CountInLog(reliability::kStartupRecord), 1) << testsupport::ReadLog();
}

}  // namespace
