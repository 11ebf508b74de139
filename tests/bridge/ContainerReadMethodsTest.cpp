// Container reads for backup: argument widths, by-reference writes landing in the caller's
// variables, and when out-texts are converted.

#include "bridge/BridgeFixture.h"

using namespace CloudSDKCppBridge;

namespace {

TEST_F(BridgeTest, OpenContainerPassesTextsAndAnEightBitFlag) {
    Script("OpenCosmosDBContainer", "result", "false");
    EXPECT_FALSE(bridge->OpenCosmosDBContainer("acct", "key", true, "db", "coll"));
    EXPECT_EQ(LastCall("OpenCosmosDBContainer"), "\"acct\"|\"key\"|true|\"db\"|\"coll\"");
}

TEST_F(BridgeTest, DescribeWritesThroughputInPlaceAndTextsOnlyOnTrue) {
    Script("DescribeCosmosDBContainer", "ref1", "/pk");
    Script("DescribeCosmosDBContainer", "ref2", "400");
    Script("DescribeCosmosDBContainer", "ref3", "-2147483648");
    Script("DescribeCosmosDBContainer", "ref4", "2147483647");
    Script("DescribeCosmosDBContainer", "ref5", "7");
    Script("DescribeCosmosDBContainer", "ref6", "{\"indexingMode\":\"consistent\"}");
    std::string key = "old", policy = "old";
    CosmosDBThroughput throughput{11, 12, 13, 14};
    ASSERT_TRUE(bridge->DescribeCosmosDBContainer(key, throughput, policy));
    // Six arguments: two string slots around the four fields, as they held on entry.
    EXPECT_EQ(LastCall("DescribeCosmosDBContainer"), "null|11|12|13|14|null");
    EXPECT_EQ(throughput.nValue1, 400);
    EXPECT_EQ(throughput.nValue2, INT32_MIN);
    EXPECT_EQ(throughput.nValue3, INT32_MAX);
    EXPECT_EQ(throughput.nValue4, 7);
    EXPECT_EQ(key, "/pk");
    EXPECT_EQ(policy, "{\"indexingMode\":\"consistent\"}");

    Script("DescribeCosmosDBContainer", "result", "false");
    Script("DescribeCosmosDBContainer", "ref2", "1000");
    key = "old";
    policy = "old";
    EXPECT_FALSE(bridge->DescribeCosmosDBContainer(key, throughput, policy));
    EXPECT_EQ(key, "old");
    EXPECT_EQ(policy, "old");
    EXPECT_EQ(throughput.nValue1, 1000);  // written by the managed method whatever the result
}

TEST_F(BridgeTest, CountAndEmptinessLandInTheCallersVariables) {
    Script("CountItems", "ref1", "1234567890123");
    long long count = -5;
    ASSERT_TRUE(bridge->CountItems(count));
    EXPECT_EQ(LastCall("CountItems"), "-5");
    EXPECT_EQ(count, 1234567890123LL);

    Script("IsEmpty", "ref1", "true");
    Script("IsEmpty", "result", "false");
    bool empty = false;
    EXPECT_FALSE(bridge->IsEmpty(empty));
    EXPECT_TRUE(empty);
}

TEST_F(BridgeTest, StatisticsTextIsConvertedWhateverTheResult) {
    Script("ObtainContainerStatistics", "ref1", "9000000000");
    Script("ObtainContainerStatistics", "ref2", "-1");
    Script("ObtainContainerStatistics", "ref3", "partial statistics");
    Script("ObtainContainerStatistics", "result", "false");
    long long size = 0, documents = 0;
    std::string text = "old";
    EXPECT_FALSE(bridge->ObtainContainerStatistics(size, documents, text));
    EXPECT_EQ(size, 9000000000LL);
    EXPECT_EQ(documents, -1);
    EXPECT_EQ(text, "partial statistics");

    Script("ObtainContainerStatistics", "ref3", "null");
    text = "old";
    EXPECT_FALSE(bridge->ObtainContainerStatistics(size, documents, text));
    EXPECT_EQ(text, "");
}

TEST_F(BridgeTest, BackupScriptsTextIsConvertedWhateverTheResult) {
    Script("BackupAttachedScripts", "ref2", "3");
    Script("BackupAttachedScripts", "ref3", "[{\"id\":\"sp1\"}]");
    Script("BackupAttachedScripts", "result", "false");
    int scripts = -1;
    std::string json;
    EXPECT_FALSE(bridge->BackupAttachedScripts(true, scripts, json));
    EXPECT_EQ(LastCall("BackupAttachedScripts"), "true|-1|null");
    EXPECT_EQ(scripts, 3);
    EXPECT_EQ(json, "[{\"id\":\"sp1\"}]");
}

TEST_F(BridgeTest, TokensPassA64BitIndexAndReplaceTheVector) {
    Script("GetCosmosDBTokens", "result", "texts:0|1|2");
    std::vector<SString> tokens{{"stale"}};
    ASSERT_TRUE(bridge->GetCosmosDBTokens(0x1122334455667788LL, tokens));
    EXPECT_EQ(LastCall("GetCosmosDBTokens"), "1234605616436508552");
    ASSERT_EQ(tokens.size(), 3u);
    EXPECT_EQ(tokens[2].strValue, "2");

    Script("GetCosmosDBTokens", "result", "null");
    EXPECT_FALSE(bridge->GetCosmosDBTokens(0, tokens));
    EXPECT_EQ(tokens.size(), 3u);
}

TEST_F(BridgeTest, DataPageIsDeliveredOnlyWithTheSuccessFlagAndAList) {
    Script("GetCosmosDBData", "result", "texts:{\"id\":\"1\"}|{\"id\":\"2\"}");
    Script("GetCosmosDBData", "ref3", "continuation-2");
    Script("GetCosmosDBData", "ref4", "true");
    Script("GetCosmosDBData", "ref5", "true");
    std::string next = "old";
    bool more = true;
    std::vector<SString> items;
    ASSERT_TRUE(bridge->GetCosmosDBData("continuation-1", -3, next, more, items));
    // bOut arrives false: it is reset before the call.
    EXPECT_EQ(LastCall("GetCosmosDBData"), "\"continuation-1\"|-3|null|false|false");
    EXPECT_TRUE(more);
    EXPECT_EQ(next, "continuation-2");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].strValue, "{\"id\":\"2\"}");
}

TEST_F(BridgeTest, DataPageWithoutTheFlagIsNotConverted) {
    Script("GetCosmosDBData", "result", "texts:a");
    Script("GetCosmosDBData", "ref3", "next");
    std::string next = "old";
    bool more = true;
    std::vector<SString> items{{"previous page"}};
    EXPECT_FALSE(bridge->GetCosmosDBData("", 0, next, more, items));
    EXPECT_FALSE(more);
    EXPECT_EQ(next, "old");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].strValue, "previous page");
}

TEST_F(BridgeTest, DataFlagWithANullListIsTrueAndConvertsNothing) {
    Script("GetCosmosDBData", "result", "null");
    Script("GetCosmosDBData", "ref4", "true");
    Script("GetCosmosDBData", "ref3", "next");
    std::string next = "old";
    bool more = false;
    std::vector<SString> items{{"kept"}};
    EXPECT_TRUE(bridge->GetCosmosDBData("", 0, next, more, items));
    EXPECT_EQ(next, "old");
    EXPECT_EQ(items.size(), 1u);
}

TEST_F(BridgeTest, DataPageRaisingAfterSettingTheFlagIsAFailure) {
    Script("GetCosmosDBData", "ref4", "true");
    Script("GetCosmosDBData", "ref5", "true");
    Script("GetCosmosDBData", "throw", "System.TimeoutException");
    std::string next = "old";
    bool more = false;
    std::vector<SString> items{{"previous page"}};
    EXPECT_FALSE(bridge->GetCosmosDBData("", 0, next, more, items));
    EXPECT_TRUE(more);  // the caller's own variable, written before the exception
    EXPECT_EQ(next, "old");
    EXPECT_EQ(items[0].strValue, "previous page");
}

TEST_F(BridgeTest, DataPageThatCannotBeReadWholeIsAFailure) {
    Script("GetCosmosDBData", "result", "string:not a list");
    Script("GetCosmosDBData", "ref4", "true");
    Script("GetCosmosDBData", "ref3", "next");
    std::string next = "old";
    bool more = false;
    std::vector<SString> items{{"previous page"}};
    EXPECT_FALSE(bridge->GetCosmosDBData("", 0, next, more, items));
    EXPECT_EQ(next, "old");
    EXPECT_TRUE(items.empty());  // the previous page cannot pass for this one
}

// The page read: one byte array, its items as JSON Lines with their ends.
TEST_F(BridgeTest, ItemPageArrivesAsOneBufferWithEachItemsEnd) {
    Script("GetCosmosDBPage", "result", "page:{\"id\":\"1\"}|{\"s\":\"\\u00fc\\uD83D\\uDE00\"}|{}");
    Script("GetCosmosDBPage", "ref3", "continuation-2");
    Script("GetCosmosDBPage", "ref4", "true");
    Script("GetCosmosDBPage", "ref5", "true");
    std::string next = "old";
    bool more = true;
    SItemPage page;
    ASSERT_TRUE(bridge->GetCosmosDBPage("continuation-1", 7, next, more, page));
    EXPECT_EQ(LastCall("GetCosmosDBPage"), "\"continuation-1\"|7|null|false|false");
    EXPECT_TRUE(more);
    EXPECT_EQ(next, "continuation-2");
    EXPECT_EQ(page.bytes, "{\"id\":\"1\"}\n{\"s\":\"\xC3\xBC\xF0\x9F\x98\x80\"}\n{}\n");
    ASSERT_EQ(page.size(), 3u);
    EXPECT_EQ(page.item(1), "{\"s\":\"\xC3\xBC\xF0\x9F\x98\x80\"}");
    EXPECT_EQ(page.item(2), "{}");

    Script("GetCosmosDBPage", "result", "page:");
    ASSERT_TRUE(bridge->GetCosmosDBPage("", 0, next, more, page));
    EXPECT_EQ(page.size(), 0u);
    EXPECT_TRUE(page.bytes.empty());

    // The array may be longer than the page it holds (a reused buffer): the rest is not read.
    Script("GetCosmosDBPage", "result", "bytes:0100000002000000610a01000000ffffff");
    ASSERT_TRUE(bridge->GetCosmosDBPage("", 0, next, more, page));
    EXPECT_EQ(page.bytes, "a\n");
    ASSERT_EQ(page.size(), 1u);
    EXPECT_EQ(page.item(0), "a");
}

TEST_F(BridgeTest, ItemPageIsDeliveredOnlyWithTheFlagAndWithoutAnException) {
    Script("GetCosmosDBPage", "result", "page:a");
    Script("GetCosmosDBPage", "ref3", "next");
    std::string next = "old";
    bool more = true;
    SItemPage page;
    page.bytes = "previous\n";
    page.ends = {8};
    EXPECT_FALSE(bridge->GetCosmosDBPage("", 0, next, more, page));
    EXPECT_FALSE(more);
    EXPECT_EQ(next, "old");
    EXPECT_EQ(page.item(0), "previous");

    Script("GetCosmosDBPage", "ref4", "true");
    Script("GetCosmosDBPage", "result", "null");
    EXPECT_FALSE(bridge->GetCosmosDBPage("", 0, next, more, page));  // no page is no page, flag or not
    EXPECT_EQ(next, "old");

    Script("GetCosmosDBPage", "result", "page:a");
    Script("GetCosmosDBPage", "throw", "System.TimeoutException");
    EXPECT_FALSE(bridge->GetCosmosDBPage("", 0, next, more, page));
    EXPECT_EQ(next, "old");
    EXPECT_EQ(testsupport::CountInLog("Exception caught in bridge - TimeoutException"), 1);
    EXPECT_EQ(testsupport::CountInLog("GetCosmosDBPage(const string&, long long int, std::string&, bool&, CloudSDKCppBridge::SItemPage&)"), 1);
}

// Counts and ends that do not describe the bytes, or a result of another type, give no page:
// not a part of it, and not the previous one.
TEST_F(BridgeTest, ItemPageWhoseLayoutDoesNotFitIsRefusedWhole) {
    Script("GetCosmosDBPage", "ref4", "true");
    Script("GetCosmosDBPage", "ref3", "next");
    const char* misfits[] = {
        "bytes:0000",                                  // no header
        "bytes:020000000200000061",                    // two items, their ends past the array
        "bytes:0100000002000000610a04000000",          // an end past the items
        "bytes:0100000002000000610a00000000",          // an end not at a line feed
        "bytes:0100000003000000610a6201000000",        // items after the last end
        "bytes:ffffffff00000000",                      // a count larger than any page
        "string:not a page",
    };
    for (const char* result : misfits) {
        Script("GetCosmosDBPage", "result", result);
        std::string next = "old";
        bool more = false;
        SItemPage page;
        page.bytes = "previous\n";
        page.ends = {8};
        EXPECT_FALSE(bridge->GetCosmosDBPage("", 0, next, more, page)) << result;
        EXPECT_EQ(next, "old") << result;
        EXPECT_TRUE(page.bytes.empty() && page.ends.empty()) << result;
    }
    EXPECT_EQ(testsupport::CountInLog("A page of items from the managed side is refused"), 7);
}

}  // namespace

