// The runtime starts once per process, on its host thread, however many bridges are made
// and from however many threads.

#include "bridge/BridgeFixture.h"

#include <thread>
#include <vector>

using CloudSDKCppBridge::CCloudSDKCppBridge;
using CloudSDKCppBridge::CCloudWrapperPtr;
using testsupport::CountInLog;

namespace {

constexpr const char* kStartupRecord = "mono initialization returned - [";

TEST(Startup, ManyBridgesStartTheRuntimeOnce) {
    CCloudSDKCppBridge first;
    CCloudSDKCppBridge second;
    CCloudSDKCppBridge third;
    EXPECT_TRUE(CCloudWrapperPtr::c_AzuremonoInitStatus);
    EXPECT_TRUE(CCloudWrapperPtr::c_AzuremonoThreadRunning);
    EXPECT_NE(g_domain, nullptr);
    EXPECT_NE(g_image, nullptr);
    EXPECT_FALSE(g_AzuremonoVersion.empty());
    EXPECT_EQ(CountInLog(kStartupRecord), 1) << testsupport::ReadLog();
    EXPECT_EQ(CountInLog("c_AzuremonoInitStatus - [1] "), 1);
    EXPECT_TRUE(first.CheckConnection());
    EXPECT_TRUE(third.CheckConnection());
}

TEST(Startup, EightThreadsConstructingTheFirstBridgesStartItOnce) {
    constexpr int kThreads = 8;
    std::vector<std::thread> threads;
    std::vector<int> connected(kThreads, 0);
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([i, &connected] {
            CCloudSDKCppBridge bridge;
            connected[i] = bridge.CheckConnection() ? 1 : 0;
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(connected[i], 1) << "thread " << i;
    }
    EXPECT_EQ(CountInLog(kStartupRecord), 1) << testsupport::ReadLog();
    EXPECT_EQ(testsupport::TestDouble::CallCount("CheckConnection"), kThreads);
}

TEST(Startup, RuntimeRunsOnItsOwnThreadAndSetsTheEnvironment) {
    CCloudSDKCppBridge bridge;
    ASSERT_TRUE(CCloudWrapperPtr::c_AzuremonoInitStatus);
    EXPECT_STREQ(getenv("MONO_THREADS_SUSPEND"), "preemptive");
    EXPECT_STREQ(getenv("MONO_PATH"), getenv("CLOUDSDK_HOME"));
    // The start-up record is written by the host thread, not by the constructing one.
    const std::string record = testsupport::LogLinesWith(kStartupRecord);
    EXPECT_EQ(record.find("[" + std::to_string(gettid()) + "]"), std::string::npos) << record;
}

TEST(Startup, DestroyedBridgesReleaseTheirObjectsAndANewOneWorksAtOnce) {
    CCloudSDKCppBridge first;
    const int before = testsupport::TestDouble::LiveWrappers();
    {
        std::vector<std::unique_ptr<CCloudSDKCppBridge>> bridges;
        for (int i = 0; i < 200; ++i) {
            bridges.push_back(std::make_unique<CCloudSDKCppBridge>());
        }
        EXPECT_EQ(testsupport::TestDouble::LiveWrappers(), before + 200);
    }
    // Each managed object was held only by its bridge's handle: now it can be collected.
    // (The collector scans stacks conservatively, so a stray pointer may keep one or two.)
    for (int i = 0; i < 5; ++i) {
        testsupport::TestDouble::Collect();
    }
    EXPECT_LE(testsupport::TestDouble::LiveWrappers(), before + 2);
    EXPECT_TRUE(CCloudWrapperPtr::c_AzuremonoInitStatus);

    CCloudSDKCppBridge next;
    EXPECT_TRUE(next.Connect("a", "b", "c"));
    EXPECT_EQ(CountInLog(kStartupRecord), 1);
}

}  // namespace
