// Bridges made and destroyed by the hundred thousand, and a million calls on one bridge:
// resident memory and the number of live managed wrapper objects stay flat. The double
// counts its wrapper objects in its constructor and finaliser; collections scan native
// stacks conservatively, so a stray word may keep one or two of them a while longer.

#include "MethodCases.h"
#include "ReliabilitySupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

using namespace CloudSDKCppBridge;
using testsupport::TestDouble;

namespace {

constexpr long kResidentMargin = 8 * reliability::kMiB;
constexpr int kStackScanAllowance = 4;

TEST(Lifetime, HundredThousandBridgesLeaveNeitherObjectsNorMemoryBehind) {
    CCloudSDKCppBridge keeper;  // the runtime up, this thread attached
    auto constructAndDestroy = [](int count) {
        for (int i = 0; i < count; ++i) {
            CCloudSDKCppBridge bridge;
        }
    };
    constructAndDestroy(10000);  // warm-up: the runtime's own pools reach their size
    reliability::CollectFully();
    const long residentBefore = reliability::ResidentBytes();
    const int liveBefore = TestDouble::LiveWrappers();

    // The count is real: a thousand bridges alive are a thousand live managed objects.
    {
        std::vector<std::unique_ptr<CCloudSDKCppBridge>> alive;
        for (int i = 0; i < 1000; ++i) {
            alive.push_back(std::make_unique<CCloudSDKCppBridge>());
        }
        reliability::CollectFully();
        // (Less any of the earlier ones that only a stray stack word had kept.)
        EXPECT_GE(TestDouble::LiveWrappers(), 1000);
        EXPECT_LE(TestDouble::LiveWrappers(), liveBefore + 1000);
        // Destroyed on a thread that never called into the runtime.
        std::thread([&alive] { alive.clear(); }).join();
    }
    constructAndDestroy(100000 - 10000 - 1000);
    reliability::CollectFully();
    const long residentAfter = reliability::ResidentBytes();
    const int liveAfter = TestDouble::LiveWrappers();
    std::printf("100,000 bridges: resident %ld KiB -> %ld KiB, live wrappers %d -> %d\n", residentBefore / 1024,
                residentAfter / 1024, liveBefore, liveAfter);
    EXPECT_LE(liveAfter, liveBefore + kStackScanAllowance);
    if (reliability::kResidentMemoryMeaningful) {
        EXPECT_LT(residentAfter - residentBefore, kResidentMargin);
    }
    EXPECT_TRUE(keeper.CheckConnection());
}

// Every method in turn, each answer checked, a million calls: no call leaves native or
// managed memory behind (texts, lists, handles, by-reference slots).
TEST(Lifetime, MillionCallsOnOneBridgeKeepResidentMemoryFlat) {
    constexpr int kCalls = 1000000;
    constexpr int kWarmUp = 50000;
    CCloudSDKCppBridge bridge;
    reliability::ScriptAnswers();
    const std::vector<reliability::MethodCase> methods = reliability::AllMethods();
    long residentAfterWarmUp = 0;
    int wrong = 0;
    std::string firstWrong;
    for (int i = 0; i < kCalls; ++i) {
        const reliability::MethodCase& method = methods[static_cast<size_t>(i) % methods.size()];
        const std::string result = method.callAndCheck(bridge, "tag");
        if (!result.empty() && wrong++ == 0) {
            firstWrong = std::string(method.managedName) + ": " + result;
        }
        if (i + 1 == kWarmUp) {
            reliability::CollectFully();
            residentAfterWarmUp = reliability::ResidentBytes();
        }
    }
    reliability::CollectFully();
    const long residentAtEnd = reliability::ResidentBytes();
    std::printf("1,000,000 calls: resident %ld KiB after %d, %ld KiB at the end\n", residentAfterWarmUp / 1024,
                kWarmUp, residentAtEnd / 1024);
    EXPECT_EQ(wrong, 0) << firstWrong;
    if (reliability::kResidentMemoryMeaningful) {
        EXPECT_LT(residentAtEnd - residentAfterWarmUp, kResidentMargin);
    }
}

// The failure road holds an exception object through a handle while it travels as a
// native exception; a hundred thousand of them leave nothing held.
TEST(Lifetime, HundredThousandManagedExceptionsKeepResidentMemoryFlat) {
    constexpr int kCalls = 100000;
    CCloudSDKCppBridge bridge;
    TestDouble::Reset();
    for (const char* method : {"CountItems", "ListCosmosDBDatabases", "GetCosmosDBAuthenticationInfo"}) {
        TestDouble::Script(method, "throw", "System.InvalidOperationException");
    }
    long residentAfterWarmUp = 0;
    int failed = 0;
    for (int i = 0; i < kCalls; ++i) {
        long long count = 0;
        std::vector<SString> texts;
        std::string a, b;
        switch (i % 3) {
            case 0: failed += bridge.CountItems(count) ? 0 : 1; break;
            case 1: failed += bridge.ListCosmosDBDatabases("a", "k", true, texts) ? 0 : 1; break;
            default: failed += bridge.GetCosmosDBAuthenticationInfo("a", a, b) ? 0 : 1; break;
        }
        if (i + 1 == kCalls / 10) {
            reliability::CollectFully();
            residentAfterWarmUp = reliability::ResidentBytes();
        }
    }
    reliability::CollectFully();
    const long residentAtEnd = reliability::ResidentBytes();
    std::printf("100,000 exceptions: resident %ld KiB after 10,000, %ld KiB at the end\n",
                residentAfterWarmUp / 1024, residentAtEnd / 1024);
    EXPECT_EQ(failed, kCalls);
    EXPECT_EQ(testsupport::CountInLog("Exception caught in bridge - InvalidOperationException"), kCalls);
    if (reliability::kResidentMemoryMeaningful) {
        EXPECT_LT(residentAtEnd - residentAfterWarmUp, kResidentMargin);
    }
    TestDouble::Reset();
    long long count = -1;
    EXPECT_TRUE(bridge.CountItems(count));
}

}  // namespace
