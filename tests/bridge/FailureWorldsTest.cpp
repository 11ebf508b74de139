// Worlds in which the runtime or the managed wrapper object cannot be had. Each test
// binary runs in one world (see CMakeLists.txt); the runtime's start-up is final.

#include <CloudSDKCppBridge.h>

#include "support/TestDouble.h"

#include <gtest/gtest.h>

using CloudSDKCppBridge::CCloudSDKCppBridge;
using CloudSDKCppBridge::CCloudWrapperPtr;
using CloudSDKCppBridge::CosmosDBThroughput;
using CloudSDKCppBridge::SString;
using testsupport::CountInLog;

namespace {

#if defined(WORLD_NO_ASSEMBLY)

TEST(NoAssembly, StartupFailsOnceAndForAll) {
    CCloudSDKCppBridge first;
    EXPECT_FALSE(CCloudWrapperPtr::c_AzuremonoInitStatus);
    EXPECT_TRUE(CCloudWrapperPtr::c_AzuremonoThreadRunning);
    EXPECT_NE(g_domain, nullptr);  // the domain was made before the assembly failed to open
    EXPECT_EQ(g_image, nullptr);
    EXPECT_EQ(CountInLog("c_AzuremonoInitStatus - [0] "), 1);

    CCloudSDKCppBridge second;  // does not start again
    EXPECT_EQ(CountInLog("mono initialization returned"), 1);
    EXPECT_EQ(CountInLog("Mono init status is not set"), 2);
}

TEST(NoAssembly, InitializeReportsBothMessages) {
    CCloudSDKCppBridge bridge;
    EXPECT_FALSE(bridge.Initialize("a", "b", 1, 2));
    const std::string log = testsupport::ReadLog();
    const size_t status = log.rfind("Mono init status is not set");
    const size_t failed = log.find("Failed to initialize CloudSDKWrapper");
    ASSERT_NE(failed, std::string::npos) << log;
    EXPECT_LT(status, failed);
}

TEST(NoAssembly, CallsFailWithoutReachingManagedCode) {
    CCloudSDKCppBridge bridge;
    const int before = CountInLog("Result is invalid (bool)");
    EXPECT_FALSE(bridge.CheckConnection());
    EXPECT_FALSE(bridge.Connect("a", "b", "c"));
    EXPECT_EQ(CountInLog("Result is invalid (bool)"), before + 2);
    EXPECT_EQ(CountInLog("Could not find method"), 0);
    EXPECT_EQ(bridge.GetLastErrorString(), "Mono framework is not initialized");
    bridge.UseStdout();  // nothing to report, nothing to crash
}

TEST(NoAssembly, OutValuesAreUntouchedAndTextsEmptiedAsDocumented) {
    CCloudSDKCppBridge bridge;
    long long count = 42;
    EXPECT_FALSE(bridge.CountItems(count));
    EXPECT_EQ(count, 42);
    int nOut = 7;
    EXPECT_FALSE(bridge.ChangeCosmosDBThroughput(1, 2, nOut));
    EXPECT_EQ(nOut, 7);
    long long a = 1, b = 2;
    std::string text = "old";
    EXPECT_FALSE(bridge.ObtainContainerStatistics(a, b, text));
    EXPECT_EQ(text, "");
    EXPECT_EQ(a, 1);
    std::vector<SString> tokens{{"keep"}};
    EXPECT_FALSE(bridge.GetCosmosDBTokens(0, tokens));
    ASSERT_EQ(tokens.size(), 1u);
    bool more = true;
    std::vector<SString> data{{"keep"}};
    std::string next = "old";
    EXPECT_FALSE(bridge.GetCosmosDBData("t", 1, next, more, data));
    EXPECT_FALSE(more);
    EXPECT_EQ(next, "old");
    EXPECT_EQ(data.size(), 1u);
    CosmosDBThroughput throughput{1, 2, 3, 4};
    EXPECT_FALSE(bridge.CreateCosmosDBContainer("a", "b", true, "c", "d", "e", throughput, false));
    EXPECT_EQ(throughput.nValue1, 1);
    EXPECT_FALSE(bridge.AddCosmosDBRestoreItems({{"x"}}));
}

#elif defined(WORLD_NO_BASE)

TEST(NoBaseClass, ObjectIsNotMadeAndCallsGiveFalse) {
    CCloudSDKCppBridge bridge;
    EXPECT_TRUE(CCloudWrapperPtr::c_AzuremonoInitStatus);
    EXPECT_EQ(CountInLog("Failed to get mono base class"), 1);
    EXPECT_FALSE(bridge.Connect("a", "b", "c"));
    EXPECT_FALSE(bridge.Initialize("a", "b", 1, 2));  // retries, fails the same way
    EXPECT_EQ(CountInLog("Failed to get mono base class"), 2);
    EXPECT_EQ(CountInLog("Failed to initialize CloudSDKWrapper"), 1);
}

#elif defined(WORLD_NO_DERIVED)

TEST(NoDerivedClass, ObjectIsNotMadeAndCallsReportTheMissingObject) {
    CCloudSDKCppBridge bridge;
    EXPECT_EQ(CountInLog("Failed to get mono derived class"), 1);
    EXPECT_FALSE(bridge.CheckConnection());
    EXPECT_EQ(CountInLog("object has been destroyed"), 1);
    EXPECT_EQ(CountInLog("Result is invalid (bool)"), 1);
    EXPECT_FALSE(bridge.Initialize("a", "b", 1, 2));
    EXPECT_EQ(CountInLog("Failed to initialize CloudSDKWrapper"), 1);
}

#elif defined(WORLD_CTOR_THROWS)

TEST(ThrowingConstructor, IsContainedAndTheObjectIsNotUsed) {
    CCloudSDKCppBridge bridge;  // the process survives the managed constructor's exception
    EXPECT_EQ(CountInLog("Failed to construct mono object [InvalidOperationException]"), 1) << testsupport::ReadLog();
    EXPECT_FALSE(bridge.Connect("a", "b", "c"));
    EXPECT_EQ(CountInLog("object has been destroyed"), 1);
    EXPECT_FALSE(bridge.Initialize("a", "b", 1, 2));
    EXPECT_EQ(CountInLog("Failed to construct mono object"), 2);
}

#endif

}  // namespace
