// Account and catalogue browsing: arguments, list results and the hold file.

#include "bridge/BridgeFixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>

using namespace CloudSDKCppBridge;

namespace {

TEST_F(BridgeTest, AccountListsPassTheBrowseCodeAs64BitsAndAZero) {
    std::vector<SStorageAccountInfo> accounts;
    const std::pair<int, const char*> cases[] = {{0, "0"}, {1, "1"}, {2, "2"}, {5, "0"}, {-1, "0"}};
    for (auto [kind, code] : cases) {
        ASSERT_TRUE(bridge->GetDatabaseAccountInfoList("sub", CosmosDBAccountBrowseType(kind), accounts));
        EXPECT_EQ(LastCall("GetDatabaseAccountInfoList"), std::string("\"sub\"|") + code + "|0") << kind;
        ASSERT_TRUE(bridge->GetDatabaseAccountInfoListForRegion("west", CosmosDBAccountBrowseType(kind), accounts));
        EXPECT_EQ(LastCall("GetDatabaseAccountInfoListForRegion"), std::string("\"west\"|") + code + "|0") << kind;
    }
}

TEST_F(BridgeTest, AccountListReplacesTheVectorWithTheManagedRecords) {
    Script("GetDatabaseAccountInfoList", "result", "accounts:one,GlobalDocumentDB,West Europe|two,MongoDB,");
    std::vector<SStorageAccountInfo> accounts{{"stale", "x", "y"}};
    ASSERT_TRUE(bridge->GetDatabaseAccountInfoList("", CosmosDBBrowseDefault, accounts));
    ASSERT_EQ(accounts.size(), 2u);
    EXPECT_EQ(accounts[0].strName, "one");
    EXPECT_EQ(accounts[0].strAccountType, "GlobalDocumentDB");
    EXPECT_EQ(accounts[0].strLocation, "West Europe");
    EXPECT_EQ(accounts[1].strName, "two");
    EXPECT_EQ(accounts[1].strLocation, "");
}

TEST_F(BridgeTest, NullListResultsLeaveTheVectorsUntouched) {
    for (const char* method : {"GetDatabaseAccountInfoListForRegion", "ListCosmosDBDatabases", "ListCosmosDBContainers"}) {
        Script(method, "result", "null");
    }
    std::vector<SStorageAccountInfo> accounts{{"keep", "", ""}};
    std::vector<SString> texts{{"keep"}};
    EXPECT_FALSE(bridge->GetDatabaseAccountInfoListForRegion("", CosmosDBBrowseKind1, accounts));
    EXPECT_FALSE(bridge->ListCosmosDBDatabases("a", "b", true, texts));
    EXPECT_FALSE(bridge->ListCosmosDBContainers("a", "b", "c", false, texts));
    ASSERT_EQ(accounts.size(), 1u);
    EXPECT_EQ(accounts[0].strName, "keep");
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].strValue, "keep");
}

TEST_F(BridgeTest, CatalogueListsPassTheirArgumentsWithTheFlagLast) {
    Script("ListCosmosDBDatabases", "result", "texts:db1||db1");
    Script("ListCosmosDBContainers", "result", "texts:c\\u00e9");
    std::vector<SString> databases;
    ASSERT_TRUE(bridge->ListCosmosDBDatabases("account", "key", true, databases));
    EXPECT_EQ(LastCall("ListCosmosDBDatabases"), "\"account\"|\"key\"|true");
    ASSERT_EQ(databases.size(), 3u);
    EXPECT_EQ(databases[0].strValue, "db1");
    EXPECT_EQ(databases[1].strValue, "");
    EXPECT_EQ(databases[2].strValue, "db1");
    std::vector<SString> containers;
    ASSERT_TRUE(bridge->ListCosmosDBContainers("account", "key", "db1", false, containers));
    EXPECT_EQ(LastCall("ListCosmosDBContainers"), "\"account\"|\"key\"|\"db1\"|false");
    ASSERT_EQ(containers.size(), 1u);
    EXPECT_EQ(containers[0].strValue, "c\xC3\xA9");
}

TEST_F(BridgeTest, AListThatCannotBeReadIsAFailure) {
    // A result of the wrong type cannot be enumerated: the list is not delivered as success.
    Script("ListCosmosDBDatabases", "result", "string:not a list");
    std::vector<SString> databases;
    EXPECT_FALSE(bridge->ListCosmosDBDatabases("a", "b", false, databases));
    Script("GetDatabaseAccountInfoList", "result", "texts:a");  // a text list where accounts belong
    std::vector<SStorageAccountInfo> accounts;
    EXPECT_FALSE(bridge->GetDatabaseAccountInfoList("", CosmosDBBrowseDefault, accounts));
}

TEST_F(BridgeTest, AuthenticationInfoConvertsBothTextsOnlyOnTrue) {
    Script("GetCosmosDBAuthenticationInfo", "ref2", "https://acct.documents.azure.com:443/");
    Script("GetCosmosDBAuthenticationInfo", "ref3", "null");
    std::string endpoint = "old1", key = "old2";
    ASSERT_TRUE(bridge->GetCosmosDBAuthenticationInfo("acct", endpoint, key));
    EXPECT_EQ(LastCall("GetCosmosDBAuthenticationInfo"), "\"acct\"|null|null");
    EXPECT_EQ(endpoint, "https://acct.documents.azure.com:443/");
    EXPECT_EQ(key, "");

    Script("GetCosmosDBAuthenticationInfo", "result", "false");
    endpoint = "old1";
    key = "old2";
    EXPECT_FALSE(bridge->GetCosmosDBAuthenticationInfo("acct", endpoint, key));
    EXPECT_EQ(endpoint, "old1");
    EXPECT_EQ(key, "old2");
}

// ---- The hold file ------------------------------------------------------------------------

class HoldFileTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        char pattern[] = "/tmp/cloudsdk-hold-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        ASSERT_EQ(chdir(directory.c_str()), 0);
    }
    void TearDown() override {
        std::remove("c:\\cloudinfo.sleep");
        std::remove("c:/cloudinfo.sleep");
        rmdir("c:");
        chdir("/");
        rmdir(directory.c_str());
    }
    static void Touch(const char* path) { std::fclose(std::fopen(path, "w")); }

    std::string directory;
};

TEST_F(HoldFileTest, AccountListWaitsWhileTheFileExistsAndGoesOnSoonAfter) {
    Touch("c:\\cloudinfo.sleep");
    auto call = std::async(std::launch::async, [this] {
        std::vector<SStorageAccountInfo> accounts;
        return bridge->GetDatabaseAccountInfoList("held", CosmosDBBrowseDefault, accounts);
    });
    EXPECT_EQ(call.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    EXPECT_EQ(Calls("GetDatabaseAccountInfoList"), 0);

    // The region variant is not held meanwhile.
    std::vector<SStorageAccountInfo> accounts;
    EXPECT_TRUE(bridge->GetDatabaseAccountInfoListForRegion("free", CosmosDBBrowseDefault, accounts));

    std::remove("c:\\cloudinfo.sleep");
    const auto removed = std::chrono::steady_clock::now();
    ASSERT_EQ(call.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    // One poll interval at most, with room for a loaded machine; a longer interval would show.
    EXPECT_LT(std::chrono::steady_clock::now() - removed, std::chrono::milliseconds(3500));
    EXPECT_TRUE(call.get());
    EXPECT_EQ(Calls("GetDatabaseAccountInfoList"), 1);
}

TEST_F(HoldFileTest, APathWithADirectoryNamedBeforeTheBackslashDoesNotHold) {
    ASSERT_EQ(mkdir("c:", 0700), 0);
    Touch("c:/cloudinfo.sleep");
    std::vector<SStorageAccountInfo> accounts;
    EXPECT_TRUE(bridge->GetDatabaseAccountInfoList("", CosmosDBBrowseDefault, accounts));
    EXPECT_EQ(Calls("GetDatabaseAccountInfoList"), 1);
}

}  // namespace
