// Managed lists to native vectors: order, empties, missing fields and every way the
// enumeration can break off. A list that is not read whole leaves the vector empty.

#include "MarshalTest.h"

#include "marshal/CloudSDKHelper.h"

#include <vector>

namespace marshaltest {
namespace {

using CloudSDKCppBridge::SStorageAccountInfo;
using CloudSDKCppBridge::SString;
using CloudSDKCppBridgeHelper::CCloudSDKHelper;

std::vector<std::string> Texts(const std::vector<SString>& records) {
    std::vector<std::string> texts;
    for (const SString& r : records) texts.push_back(r.strValue);
    return texts;
}

using Strings = std::vector<std::string>;

class ListConversionTest : public MarshalTest {
protected:
    // Converts with an enumerator class of the test double's own.
    bool ConvertWith(const char* enumeratorClass, MonoObject* list) {
        return CCloudSDKHelper::ConvertList_ManagedToNative(out, list, static_cast<MonoObject*>(nullptr),
                                                            enumeratorClass);
    }
    // What a caller that reuses its vector holds from an earlier call.
    std::vector<SString> out{{"stale"}, {"stale"}};
};

TEST_F(ListConversionTest, NullListEmptiesTheVectorSilently) {
    EXPECT_TRUE(CCloudSDKHelper::ConvertStringList_ManagedToNative(out, nullptr));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(Logged("ERROR"), 0);
}

TEST_F(ListConversionTest, EmptyListGivesEmptyVector) {
    EXPECT_TRUE(CCloudSDKHelper::ConvertStringList_ManagedToNative(out, List("texts:")));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(Logged("ERROR"), 0);
}

TEST_F(ListConversionTest, OrderEmptyTextsAndDuplicatesAreKept) {
    EXPECT_TRUE(CCloudSDKHelper::ConvertStringList_ManagedToNative(out, List("texts:a||a")));
    EXPECT_EQ(Texts(out), (Strings{"a", "", "a"}));
}

TEST_F(ListConversionTest, NullTextReadsAsEmptyWithoutMessage) {
    EXPECT_TRUE(CCloudSDKHelper::ConvertStringList_ManagedToNative(out, List("texts-odd:a|nulltext|\\u00e9")));
    EXPECT_EQ(Texts(out), (Strings{"a", "", "\u00e9"}));
    EXPECT_EQ(Logged("ERROR"), 0);
}

TEST_F(ListConversionTest, TextsSurviveCollectionsDuringTheWalk) {
    std::string shape = "texts-collecting:";
    Strings expected;
    for (int i = 0; i < 50; ++i) {
        expected.push_back("text " + std::to_string(i) + std::string(static_cast<size_t>(i), 'x'));
        shape += (i > 0 ? "|" : "") + expected.back();
    }
    EXPECT_TRUE(CCloudSDKHelper::ConvertStringList_ManagedToNative(out, List(shape)));
    EXPECT_EQ(Texts(out), expected);
}

TEST_F(ListConversionTest, AccountsWithoutLocationKeepNameAndTypeAndTheWalkGoesOn) {
    std::vector<SStorageAccountInfo> accounts{{"stale", "", ""}};
    EXPECT_TRUE(CCloudSDKHelper::ConvertStorageAccountInfoList_ManagedToNative(
        accounts, List("accounts:n1,t1,l1|n2,t2|n3,t3,l3|n4,t4")));
    ASSERT_EQ(accounts.size(), 4u);
    EXPECT_EQ(accounts[1].strName, "n2");
    EXPECT_EQ(accounts[1].strAccountType, "t2");
    EXPECT_EQ(accounts[1].strLocation, "");
    EXPECT_EQ(accounts[2].strLocation, "l3");
    EXPECT_EQ(accounts[3].strName, "n4");
    EXPECT_EQ(accounts[3].strLocation, "");
    // Once for the list, however many of its elements lack the field.
    EXPECT_EQ(Logged("Could not find field [strLocation]"), 1);
    EXPECT_EQ(Logged("ERROR"), 1);
}

TEST_F(ListConversionTest, OddElementsFailTheListAfterReadingItWhole) {
    EXPECT_FALSE(CCloudSDKHelper::ConvertStringList_ManagedToNative(out, List("texts-odd:a|object|nofield|b")));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(Logged("Field [strValue] does not hold a string"), 1);
    EXPECT_EQ(Logged("Could not find field [strValue]"), 1);
}

TEST_F(ListConversionTest, MissingEnumeratorClassIsNamed) {
    EXPECT_FALSE(ConvertWith("NoSuchEnumerator", List("texts:a")));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(Logged("Failed to get enumerator class [NoSuchEnumerator]"), 1);
}

TEST_F(ListConversionTest, MissingOrMisdeclaredMethodNamesTheEnumeratorClass) {
    for (const char* enumerator :
         {"EnumeratorWithoutCurrent", "EnumeratorWithCurrentProperty", "EnumeratorWithInstanceGetEnumerator"}) {
        EXPECT_FALSE(ConvertWith(enumerator, List("texts:a"))) << enumerator;
        EXPECT_TRUE(out.empty()) << enumerator;
        EXPECT_EQ(Logged(std::string("Failed to get enumerator method [") + enumerator + "]"), 1) << enumerator;
    }
}

TEST_F(ListConversionTest, AMisdeclaredEnumeratorStaysRefusedBesideOneThatFits) {
    // Both declare "GetEnumerator"; only SStringListEnumerator's is static.
    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(ConvertWith("SStringListEnumerator", List("texts:a")));
        EXPECT_EQ(Texts(out), (Strings{"a"}));
        EXPECT_FALSE(ConvertWith("EnumeratorWithInstanceGetEnumerator", List("texts:a")));
        EXPECT_TRUE(out.empty());
    }
    EXPECT_EQ(Logged("Failed to get enumerator method [EnumeratorWithInstanceGetEnumerator]"), 2);
}

TEST_F(ListConversionTest, GetEnumeratorGivingNullOrRaisingEndsBeforeTheFirstElement) {
    EXPECT_FALSE(CCloudSDKHelper::ConvertStringList_ManagedToNative(out, List("texts-enumerator-null:")));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(Logged("Failed to invoke get enumerator method [SStringListEnumerator]"), 1);

    EXPECT_FALSE(CCloudSDKHelper::ConvertStringList_ManagedToNative(out, List("texts-enumerator-throws:")));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(Logged("Enumerator method [GetEnumerator] of [SStringListEnumerator] raised NotSupportedException"), 1);
}

TEST_F(ListConversionTest, ExceptionInMoveNextMidwayLeavesTheVectorEmpty) {
    EXPECT_FALSE(CCloudSDKHelper::ConvertStringList_ManagedToNative(out, List("texts-throw-at:2:a|b|c|d")));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(Logged("Enumerator method [MoveNext] of [SStringListEnumerator] raised ArgumentOutOfRangeException"),
              1);
}

TEST_F(ListConversionTest, NullElementEndsTheWalkLeavingTheVectorEmpty) {
    EXPECT_FALSE(CCloudSDKHelper::ConvertStringList_ManagedToNative(out, List("texts-null-at:1:a|b|c")));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(Logged("Enumerator method [Current] of [SStringListEnumerator] returned null"), 1);
}

TEST_F(ListConversionTest, MoveNextGivingNullOrNoBooleanEndsTheWalk) {
    EXPECT_FALSE(ConvertWith("EnumeratorWithObjectMoveNext", List("texts:")));
    EXPECT_EQ(Logged("Enumerator method [MoveNext] of [EnumeratorWithObjectMoveNext] returned null"), 1);
    EXPECT_FALSE(ConvertWith("EnumeratorWithObjectMoveNext", List("texts:a")));
    EXPECT_EQ(Logged("Enumerator method [MoveNext] of [EnumeratorWithObjectMoveNext] did not return a Boolean"), 1);
    EXPECT_TRUE(out.empty());
}

TEST_F(ListConversionTest, EnumeratorOfAnotherClassIsNotStepped) {
    EXPECT_FALSE(ConvertWith("EnumeratorGivingAnotherObject", List("texts:a")));
    EXPECT_EQ(Logged("Managed method [EnumeratorGivingAnotherObject.MoveNext] is not run on an object of another "
                     "class"),
              1);
    EXPECT_TRUE(out.empty());
}

TEST_F(ListConversionTest, BridgeMethodReturnsTheTextsOfAScriptedList) {
    // The whole road: a bridge method whose managed result is converted here.
    testsupport::TestDouble::Script("ListCosmosDBDatabases", "result", "texts:a||a");
    CloudSDKCppBridge::CCloudSDKCppBridge bridge;
    EXPECT_TRUE(bridge.ListCosmosDBDatabases("x", "y", false, out));
    EXPECT_EQ(Texts(out), (Strings{"a", "", "a"}));

    // A list that breaks off midway leaves nothing of it, nor of the last one read whole.
    testsupport::TestDouble::Script("ListCosmosDBDatabases", "result", "texts-throw-at:1:b|c");
    EXPECT_FALSE(bridge.ListCosmosDBDatabases("x", "y", false, out));
    EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace marshaltest
