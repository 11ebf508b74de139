// A managed exception in any cloud method gives that method's failure result and exactly
// one record under its signature text, and the process and the bridge go on.

#include "bridge/BridgeFixture.h"

#include <functional>

using namespace CloudSDKCppBridge;

namespace {

struct Case {
    const char* managedName;
    const char* signatureText;
    std::function<bool(CCloudSDKCppBridge&)> call;
};

const std::string kPrefix = "bool CloudSDKCppBridge::CCloudSDKCppBridge::";

std::vector<Case> AllCloudMethods() {
    static std::vector<SStorageAccountInfo> accounts;
    static std::vector<SString> texts;
    static std::string a, b;
    static long long ll1, ll2;
    static bool flag;
    static int n;
    static CosmosDBThroughput throughput;
    return {
        {"GetDatabaseAccountInfoList",
         "GetDatabaseAccountInfoList(const string&, CloudSDKCppBridge::CosmosDBAccountBrowseType, "
         "std::vector<CloudSDKCppBridge::SStorageAccountInfo>&)",
         [](auto& br) { return br.GetDatabaseAccountInfoList("", CosmosDBBrowseKind1, accounts); }},
        {"GetDatabaseAccountInfoListForRegion",
         "GetDatabaseAccountInfoListForRegion(const string&, CloudSDKCppBridge::CosmosDBAccountBrowseType, "
         "std::vector<CloudSDKCppBridge::SStorageAccountInfo>&)",
         [](auto& br) { return br.GetDatabaseAccountInfoListForRegion("", CosmosDBBrowseKind2, accounts); }},
        {"GetCosmosDBAuthenticationInfo", "GetCosmosDBAuthenticationInfo(const string&, std::string&, std::string&)",
         [](auto& br) { return br.GetCosmosDBAuthenticationInfo("", a, b); }},
        {"ListCosmosDBDatabases",
         "ListCosmosDBDatabases(const string&, const string&, bool, std::vector<CloudSDKCppBridge::SString>&)",
         [](auto& br) { return br.ListCosmosDBDatabases("", "", true, texts); }},
        {"ListCosmosDBContainers",
         "ListCosmosDBContainers(const string&, const string&, const string&, bool, "
         "std::vector<CloudSDKCppBridge::SString>&)",
         [](auto& br) { return br.ListCosmosDBContainers("", "", "", true, texts); }},
        {"OpenCosmosDBContainer",
         "OpenCosmosDBContainer(const string&, const string&, bool, const string&, const string&)",
         [](auto& br) { return br.OpenCosmosDBContainer("", "", true, "", ""); }},
        {"DescribeCosmosDBContainer",
         "DescribeCosmosDBContainer(std::string&, CloudSDKCppBridge::CosmosDBThroughput&, std::string&)",
         [](auto& br) { return br.DescribeCosmosDBContainer(a, throughput, b); }},
        {"CountItems", "CountItems(long long int&)", [](auto& br) { return br.CountItems(ll1); }},
        {"ObtainContainerStatistics", "ObtainContainerStatistics(long long int&, long long int&, std::string&)",
         [](auto& br) { return br.ObtainContainerStatistics(ll1, ll2, a); }},
        {"IsEmpty", "IsEmpty(bool&)", [](auto& br) { return br.IsEmpty(flag); }},
        {"GetCosmosDBTokens", "GetCosmosDBTokens(long long int, std::vector<CloudSDKCppBridge::SString>&)",
         [](auto& br) { return br.GetCosmosDBTokens(1, texts); }},
        {"GetCosmosDBData",
         "GetCosmosDBData(const string&, long long int, std::string&, bool&, "
         "std::vector<CloudSDKCppBridge::SString>&)",
         [](auto& br) { return br.GetCosmosDBData("", 1, a, flag, texts); }},
        {"BackupAttachedScripts", "BackupAttachedScripts(bool, int&, std::string&)",
         [](auto& br) { return br.BackupAttachedScripts(true, n, a); }},
        {"CreateCosmosDBDatabase",
         "CreateCosmosDBDatabase(const string&, const string&, bool, const string&, int, int, bool)",
         [](auto& br) { return br.CreateCosmosDBDatabase("", "", true, "", 1, 2, true); }},
        {"CreateCosmosDBContainer",
         "CreateCosmosDBContainer(const string&, const string&, bool, const string&, const string&, const "
         "string&, CloudSDKCppBridge::CosmosDBThroughput&, bool)",
         [](auto& br) { return br.CreateCosmosDBContainer("", "", true, "", "", "", throughput, true); }},
        {"RemoveCosmosDBContainer",
         "RemoveCosmosDBContainer(const string&, const string&, bool, const string&, const string&)",
         [](auto& br) { return br.RemoveCosmosDBContainer("", "", true, "", ""); }},
        {"StartCosmosDBRestore", "StartCosmosDBRestore(int, const string&)",
         [](auto& br) { return br.StartCosmosDBRestore(1, ""); }},
        {"AddCosmosDBRestoreItems", "AddCosmosDBRestoreItems(const std::vector<CloudSDKCppBridge::SString>&)",
         [](auto& br) { return br.AddCosmosDBRestoreItems({{"x"}}); }},
        {"AddCosmosDBRestoreItem", "AddCosmosDBRestoreItem(const string&)",
         [](auto& br) { return br.AddCosmosDBRestoreItem("x"); }},
        {"FlushCosmosDBRestore", "FlushCosmosDBRestore()", [](auto& br) { return br.FlushCosmosDBRestore(); }},
        {"RestoreAttachedScripts", "RestoreAttachedScripts(const string&, bool)",
         [](auto& br) { return br.RestoreAttachedScripts("", true); }},
        {"RemoveAllTriggers", "RemoveAllTriggers()", [](auto& br) { return br.RemoveAllTriggers(); }},
        {"ChangeCosmosDBThroughput", "ChangeCosmosDBThroughput(int, int, int&)",
         [](auto& br) { return br.ChangeCosmosDBThroughput(1, 2, n); }},
    };
}

TEST_F(BridgeTest, EveryCloudMethodContainsAManagedException) {
    const auto cases = AllCloudMethods();
    ASSERT_EQ(cases.size(), 23u);
    for (const Case& c : cases) {
        Script(c.managedName, "throw", "System.InvalidOperationException");
        EXPECT_FALSE(c.call(*bridge)) << c.managedName;
        EXPECT_EQ(Calls(c.managedName), 1) << c.managedName;
        const std::string record =
            kPrefix + c.signatureText + ": Exception caught in bridge - InvalidOperationException\n";
        EXPECT_EQ(testsupport::CountInLog(record), 1) << record << "\n" << testsupport::ReadLog();
    }
    EXPECT_EQ(testsupport::CountInLog("Exception caught in bridge"), 23);

    // Nothing is left behind: each method works again once the managed side does.
    testsupport::TestDouble::Reset();
    for (const Case& c : cases) {
        if (std::string(c.managedName) != "GetCosmosDBData") {  // needs its success flag set
            EXPECT_TRUE(c.call(*bridge)) << c.managedName;
        }
    }
}

TEST_F(BridgeTest, OutTextsAreNotConvertedAfterAnException) {
    Script("ObtainContainerStatistics", "ref3", "half");
    Script("ObtainContainerStatistics", "ref1", "77");
    Script("ObtainContainerStatistics", "throw", "System.IO.IOException");
    long long size = 0, documents = 0;
    std::string text = "old";
    EXPECT_FALSE(bridge->ObtainContainerStatistics(size, documents, text));
    EXPECT_EQ(text, "old");
    EXPECT_EQ(size, 77);  // by-reference values keep what the managed method wrote
}

}  // namespace
