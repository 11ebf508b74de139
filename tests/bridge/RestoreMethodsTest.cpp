// Restore and administration: argument arrays, the restore list, and throughput.

#include "bridge/BridgeFixture.h"

using namespace CloudSDKCppBridge;

namespace {

TEST_F(BridgeTest, CreateDatabasePassesSevenArgumentsOfTheirWidths) {
    Script("CreateCosmosDBDatabase", "result", "false");
    EXPECT_FALSE(bridge->CreateCosmosDBDatabase("acct", "key", true, "db", 0x12345678, -2, false));
    EXPECT_EQ(LastCall("CreateCosmosDBDatabase"), "\"acct\"|\"key\"|true|\"db\"|305419896|-2|false");
}

TEST_F(BridgeTest, CreateContainerPassesTheFirstTwoThroughputFieldsByReference) {
    Script("CreateCosmosDBContainer", "ref7", "4000");
    Script("CreateCosmosDBContainer", "ref8", "-9");
    CosmosDBThroughput throughput{400, 1000, 3, 4};
    ASSERT_TRUE(bridge->CreateCosmosDBContainer("acct", "key", false, "db", "coll", "/pk", throughput, true));
    EXPECT_EQ(LastCall("CreateCosmosDBContainer"),
              "\"acct\"|\"key\"|false|\"db\"|\"coll\"|\"/pk\"|400|1000|true");
    EXPECT_EQ(throughput.nValue1, 4000);
    EXPECT_EQ(throughput.nValue2, -9);
    EXPECT_EQ(throughput.nValue3, 3);
    EXPECT_EQ(throughput.nValue4, 4);
}

TEST_F(BridgeTest, RemoveContainerAndRestoreStartPassTheirArguments) {
    EXPECT_TRUE(bridge->RemoveCosmosDBContainer("a", "b", true, "c", "d"));
    EXPECT_EQ(LastCall("RemoveCosmosDBContainer"), "\"a\"|\"b\"|true|\"c\"|\"d\"");
    EXPECT_TRUE(bridge->StartCosmosDBRestore(-7, "target"));
    EXPECT_EQ(LastCall("StartCosmosDBRestore"), "-7|\"target\"");
    EXPECT_TRUE(bridge->AddCosmosDBRestoreItem("{\"id\":\"1\"}"));
    EXPECT_EQ(LastCall("AddCosmosDBRestoreItem"), "\"{\"id\":\"1\"}\"");
    EXPECT_TRUE(bridge->RestoreAttachedScripts("[]", false));
    EXPECT_EQ(LastCall("RestoreAttachedScripts"), "\"[]\"|false");
}

TEST_F(BridgeTest, RestoreItemsArriveAsOneManagedListInOrder) {
    std::vector<SString> items{{"a"}, {""}, {"a"}, {"\xE2\x82\xAC"}};
    ASSERT_TRUE(bridge->AddCosmosDBRestoreItems(items));
    // The double reports the texts joined with '|' and how often "Add" was called.
    EXPECT_EQ(LastCall("AddCosmosDBRestoreItems"), "\"a||a|\xE2\x82\xAC\"|4");
    ASSERT_TRUE(bridge->AddCosmosDBRestoreItems({}));
    EXPECT_EQ(LastCall("AddCosmosDBRestoreItems"), "\"\"|0");  // an empty list is still passed
}

TEST_F(BridgeTest, ParameterlessRestoreMethodsReturnTheManagedResult) {
    Script("FlushCosmosDBRestore", "result", "false");
    EXPECT_FALSE(bridge->FlushCosmosDBRestore());
    EXPECT_TRUE(bridge->RemoveAllTriggers());
    EXPECT_EQ(LastCall("FlushCosmosDBRestore"), "");
    EXPECT_EQ(LastCall("RemoveAllTriggers"), "");
}

TEST_F(BridgeTest, ChangeThroughputWritesTheOutValue) {
    Script("ChangeCosmosDBThroughput", "ref3", "800");
    Script("ChangeCosmosDBThroughput", "result", "false");
    int current = 0;
    EXPECT_FALSE(bridge->ChangeCosmosDBThroughput(800, -1, current));
    EXPECT_EQ(LastCall("ChangeCosmosDBThroughput"), "800|-1|0");
    EXPECT_EQ(current, 800);
}

TEST_F(BridgeTest, ChangeThroughputRaisingSetsTheOutValueToMinusOne) {
    Script("ChangeCosmosDBThroughput", "ref3", "500");
    Script("ChangeCosmosDBThroughput", "throw", "System.Net.WebException");
    int current = 0;
    EXPECT_FALSE(bridge->ChangeCosmosDBThroughput(1, 2, current));
    EXPECT_EQ(current, -1);
}

}  // namespace
