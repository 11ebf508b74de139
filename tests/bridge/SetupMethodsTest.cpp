// The setup and connection methods reach the managed object with the arguments they were
// given, and turn managed failures into false.

#include "bridge/BridgeFixture.h"

#include <climits>

using testsupport::CountInLog;

namespace {

TEST_F(BridgeTest, InitializePassesExactlyThreeArgumentsAndIgnoresTheFourth) {
    EXPECT_TRUE(bridge->Initialize("app", "dir", ULLONG_MAX, 12345));
    EXPECT_EQ(LastCall("Initialize"), "\"app\"|\"dir\"|18446744073709551615");
    EXPECT_TRUE(bridge->Initialize("x", "", 1, -1));
    EXPECT_EQ(LastCall("Initialize"), "\"x\"|\"\"|1");
}

TEST_F(BridgeTest, TextMethodsPassTheirTextsInOrder) {
    Script("Connect", "result", "false");
    EXPECT_FALSE(bridge->Connect("endpoint", "key", "options"));
    EXPECT_EQ(LastCall("Connect"), "\"endpoint\"|\"key\"|\"options\"");
    bridge->SetWebProxy("http://proxy:3128", "user", "");
    EXPECT_EQ(LastCall("SetWebProxy"), "\"http://proxy:3128\"|\"user\"|\"\"");
}

TEST_F(BridgeTest, ParameterlessMethodsReachTheManagedObject) {
    bridge->UseStdout();
    bridge->Disconnect();
    EXPECT_EQ(Calls("UseStdout"), 1);
    EXPECT_EQ(Calls("Disconnect"), 1);
    Script("CheckConnection", "result", "false");
    EXPECT_FALSE(bridge->CheckConnection());
    Script("CheckConnection", "result", "true");
    EXPECT_TRUE(bridge->CheckConnection());
    // Methods without a result are read through the object overload: no Boolean complaint.
    EXPECT_EQ(CountInLog("Result is invalid"), 0);
}

TEST_F(BridgeTest, AssemblyResolverFlagUsesTheLowerCaseManagedNames) {
    bridge->SetAssemblyResolverDisabled(true);
    EXPECT_EQ(LastCall("setAssemblyResolverDisabled"), "true");
    bridge->SetAssemblyResolverDisabled(false);
    EXPECT_EQ(LastCall("setAssemblyResolverDisabled"), "false");
    Script("getAssemblyResolverDisabled", "result", "false");
    EXPECT_FALSE(bridge->GetAssemblyResolverDisabled());
    EXPECT_EQ(Calls("getAssemblyResolverDisabled"), 1);
}

TEST_F(BridgeTest, LastErrorTextComesBackAndANullOneIsEmpty) {
    Script("GetLastErrorString", "result", "string:connection refused \\u00e9\\uD83D\\uDE00");
    EXPECT_EQ(bridge->GetLastErrorString(), "connection refused \xC3\xA9\xF0\x9F\x98\x80");
    Script("GetLastErrorString", "result", "null");
    EXPECT_EQ(bridge->GetLastErrorString(), "");
    EXPECT_EQ(CountInLog("Result is invalid (string)"), 1);
}

TEST_F(BridgeTest, ManagedExceptionGivesFalseAndOneRecordUnderTheSignature) {
    Script("Connect", "throw", "System.InvalidOperationException");
    EXPECT_FALSE(bridge->Connect("a", "b", "c"));
    const std::string expected =
        "bool CloudSDKCppBridge::CCloudSDKCppBridge::Connect(const string&, const string&, const string&): "
        "Exception caught in bridge - InvalidOperationException\n";
    EXPECT_EQ(CountInLog(expected), 1) << testsupport::ReadLog();
    EXPECT_EQ(CountInLog("Exception caught in bridge"), 1);
    // The bridge stays usable.
    testsupport::TestDouble::Reset();
    EXPECT_TRUE(bridge->Connect("a", "b", "c"));
}

TEST_F(BridgeTest, ExceptionsFromEverySetupMethodAreContained) {
    for (const char* method : {"Initialize", "SetWebProxy", "UseStdout", "Disconnect", "CheckConnection",
                               "GetLastErrorString", "setAssemblyResolverDisabled", "getAssemblyResolverDisabled"}) {
        Script(method, "throw", "System.ArgumentException");
    }
    EXPECT_FALSE(bridge->Initialize("a", "b", 1, 0));
    bridge->SetWebProxy("a", "b", "c");
    bridge->UseStdout();
    bridge->Disconnect();
    EXPECT_FALSE(bridge->CheckConnection());
    EXPECT_EQ(bridge->GetLastErrorString(), "");
    bridge->SetAssemblyResolverDisabled(true);
    EXPECT_FALSE(bridge->GetAssemblyResolverDisabled());
    // The texts as the host's logs have always shown them.
    for (const char* where :
         {"bool CloudSDKCppBridge::CCloudSDKCppBridge::Initialize(const string&, const string&, long long unsigned "
          "int, int)",
          "void CloudSDKCppBridge::CCloudSDKCppBridge::SetWebProxy(const string&, const string&, const string&)",
          "void CloudSDKCppBridge::CCloudSDKCppBridge::UseStdout()",
          "void CloudSDKCppBridge::CCloudSDKCppBridge::Disconnect()",
          "bool CloudSDKCppBridge::CCloudSDKCppBridge::CheckConnection()",
          "std::string CloudSDKCppBridge::CCloudSDKCppBridge::GetLastErrorString()",
          "void CloudSDKCppBridge::CCloudSDKCppBridge::SetAssemblyResolverDisabled(bool)",
          "bool CloudSDKCppBridge::CCloudSDKCppBridge::GetAssemblyResolverDisabled()"}) {
        EXPECT_EQ(CountInLog(std::string(where) + ": Exception caught in bridge - ArgumentException"), 1) << where;
    }
}

}  // namespace
