// Bad and extreme input: invalid UTF-8 and empty texts in every text argument, lone
// surrogates in every text that comes back, a 256 MiB text, a million records each way,
// array lengths out of range, field reads of every wrong width, and null objects where
// the functions accept them. Each gives its documented result and loses nothing.

#include "MethodCases.h"
#include "ReliabilitySupport.h"

#include "marshal/CloudSDKHelper.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <iterator>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using namespace CloudSDKCppBridge;
using CloudSDKCppBridgeHelper::CCloudSDKHelper;
using testsupport::CountInLog;
using testsupport::TestDouble;

namespace {

const std::string R = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

std::string Texts(const std::vector<SString>& texts) {
    std::string joined;
    for (const SString& t : texts) {
        joined += t.strValue + "|";
    }
    return joined;
}

int Count(const std::string& text, const std::string& needle) {
    int count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

class BadInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        bridge = std::make_unique<CCloudSDKCppBridge>();
        ASSERT_TRUE(CCloudWrapperPtr::c_AzuremonoInitStatus);
        TestDouble::Reset();
    }
    std::unique_ptr<CCloudSDKCppBridge> bridge;
};

// ---- Texts in ---------------------------------------------------------------------------------

struct TextMethod {
    const char* managedName;
    int textArguments;
};

// Calls every method with `t` in each text; returns the methods that take texts and how
// many they take.
std::vector<TextMethod> CallEveryTextMethod(CCloudSDKCppBridge& b, const std::string& t) {
    reliability::CallEveryMethodWithText(b, t);
    return {{"Initialize", 2},           {"Connect", 3},
            {"SetWebProxy", 3},          {"GetDatabaseAccountInfoList", 1},
            {"GetDatabaseAccountInfoListForRegion", 1}, {"GetCosmosDBAuthenticationInfo", 1},
            {"ListCosmosDBDatabases", 2}, {"ListCosmosDBContainers", 3},
            {"OpenCosmosDBContainer", 4}, {"GetCosmosDBData", 1},
            {"CreateCosmosDBDatabase", 3}, {"CreateCosmosDBContainer", 5},
            {"RemoveCosmosDBContainer", 4}, {"StartCosmosDBRestore", 1},
            {"AddCosmosDBRestoreItem", 1}, {"RestoreAttachedScripts", 1}};
}

TEST_F(BadInputTest, InvalidUtf8InEveryTextArgumentArrivesWithReplacementCharacters) {
    // A lead byte before an ASCII byte, a byte that is never valid, an encoded surrogate.
    const std::string bad = "\xC3(\xFF\xED\xA0\x80z";
    const std::string arrived = R + "(" + R + R + R + R + "z";
    for (const TextMethod& m : CallEveryTextMethod(*bridge, bad)) {
        const std::string call = TestDouble::LastCall(m.managedName);
        EXPECT_EQ(Count(call, "\"" + arrived + "\""), m.textArguments) << m.managedName << ": " << call;
        EXPECT_EQ(call.find('\xFF'), std::string::npos) << m.managedName;
    }
    // And in every record of a restore list.
    EXPECT_TRUE(bridge->AddCosmosDBRestoreItems({{bad}, {"ok"}, {bad}}));
    EXPECT_EQ(TestDouble::LastCall("AddCosmosDBRestoreItems"), "\"" + arrived + "|ok|" + arrived + "\"|3");
}

TEST_F(BadInputTest, EmptyTextsInEveryTextArgumentArriveAsEmptyStringsNotNull) {
    for (const TextMethod& m : CallEveryTextMethod(*bridge, "")) {
        const std::string call = TestDouble::LastCall(m.managedName);
        // (A text that arrived as null would show as null, not as "".)
        EXPECT_EQ(Count(call, "\"\""), m.textArguments) << m.managedName << ": " << call;
    }
    EXPECT_TRUE(bridge->AddCosmosDBRestoreItems({{""}, {""}}));
    EXPECT_EQ(TestDouble::LastCall("AddCosmosDBRestoreItems"), "\"|\"|2");
}

// ---- Texts out ----------------------------------------------------------------------------------

TEST_F(BadInputTest, LoneSurrogatesInEveryTextComingBackBecomeReplacementCharacters) {
    TestDouble::Script("GetLastErrorString", "result", "string:a\\uD800b");
    TestDouble::Script("GetCosmosDBAuthenticationInfo", "ref2", "\\uDC00x");
    TestDouble::Script("GetCosmosDBAuthenticationInfo", "ref3", "y\\uD83D");
    TestDouble::Script("DescribeCosmosDBContainer", "ref1", "\\uDBFF");
    TestDouble::Script("DescribeCosmosDBContainer", "ref6", "\\uDFFF\\uD800");  // low before high: two
    TestDouble::Script("ObtainContainerStatistics", "ref3", "s\\uD800");
    TestDouble::Script("BackupAttachedScripts", "ref3", "\\uDC00\\uDC00");
    TestDouble::Script("GetCosmosDBData", "ref3", "c\\uD800");
    TestDouble::Script("GetCosmosDBData", "ref4", "true");
    TestDouble::Script("GetCosmosDBData", "result", "texts:\\uD800|\\uD83D\\uDE00");
    TestDouble::Script("ListCosmosDBDatabases", "result", "texts:x\\uDC00|\\uD800\\uD800");
    TestDouble::Script("GetDatabaseAccountInfoList", "result", "accounts:n\\uD800,\\uDC00t,l\\uDBFF");

    EXPECT_EQ(bridge->GetLastErrorString(), "a" + R + "b");
    std::string a, b;
    ASSERT_TRUE(bridge->GetCosmosDBAuthenticationInfo("x", a, b));
    EXPECT_EQ(a, R + "x");
    EXPECT_EQ(b, "y" + R);
    CosmosDBThroughput t{};
    ASSERT_TRUE(bridge->DescribeCosmosDBContainer(a, t, b));
    EXPECT_EQ(a, R);
    EXPECT_EQ(b, R + R);
    long long x = 0, y = 0;
    ASSERT_TRUE(bridge->ObtainContainerStatistics(x, y, a));
    EXPECT_EQ(a, "s" + R);
    int n = 0;
    ASSERT_TRUE(bridge->BackupAttachedScripts(true, n, a));
    EXPECT_EQ(a, R + R);
    std::vector<SString> texts;
    bool more = false;
    ASSERT_TRUE(bridge->GetCosmosDBData("x", 1, a, more, texts));
    EXPECT_EQ(a, "c" + R);
    EXPECT_EQ(Texts(texts), R + "|\xF0\x9F\x98\x80|");  // a proper pair stays one character
    ASSERT_TRUE(bridge->ListCosmosDBDatabases("x", "y", true, texts));
    EXPECT_EQ(Texts(texts), "x" + R + "|" + R + R + "|");
    std::vector<SStorageAccountInfo> accounts;
    ASSERT_TRUE(bridge->GetDatabaseAccountInfoList("x", CosmosDBBrowseKind1, accounts));
    ASSERT_EQ(accounts.size(), 1u);
    EXPECT_EQ(accounts[0].strName, "n" + R);
    EXPECT_EQ(accounts[0].strAccountType, R + "t");
    EXPECT_EQ(accounts[0].strLocation, "l" + R);
}

// ---- Size ----------------------------------------------------------------------------------------

TEST_F(BadInputTest, TwoHundredFiftySixMebibyteTextCrossesBothWaysUnchanged) {
    std::string big(256u << 20, 'a');
    // Characters of two, three and four bytes along the way, each whole.
    for (size_t i = 0; i + 4 <= big.size(); i += 1 << 20) {
        big.replace(i, 9, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    }
    ASSERT_TRUE(bridge->AddCosmosDBRestoreItem(big));
    auto* received = reinterpret_cast<MonoString*>(TestDouble::Arg("AddCosmosDBRestoreItem", 0));
    ASSERT_NE(received, nullptr);
    // 256 Mi bytes less, per mebibyte, 9 bytes that are 4 UTF-16 units (é, €, and a pair).
    EXPECT_EQ(MonoAPI::mono_string_length_ptr(received), static_cast<int>((256u << 20) - 256 * 5));
    const std::string back = gc2std(received);
    EXPECT_EQ(back.size(), big.size());
    EXPECT_TRUE(back == big);
}

TEST_F(BadInputTest, MillionRecordsCrossIntoARestoreListWholeAndInOrder) {
    constexpr int kRecords = 1000000;
    std::vector<SString> records(kRecords);
    std::string expected;
    expected.reserve(kRecords * 9);
    for (int i = 0; i < kRecords; ++i) {
        records[i].strValue = std::to_string(i);
        expected += (i > 0 ? "|" : "") + records[i].strValue;
    }
    {
        reliability::Collector collector(std::chrono::milliseconds(20));  // objects move meanwhile
        ASSERT_TRUE(bridge->AddCosmosDBRestoreItems(records));
        EXPECT_GT(collector.Stop(), 0);
    }
    // The double reports the texts it received joined, and how often Add was called.
    auto* joined = reinterpret_cast<MonoString*>(TestDouble::Arg("AddCosmosDBRestoreItems", 0));
    MonoObject* adds = TestDouble::Arg("AddCosmosDBRestoreItems", 1);
    ASSERT_NE(adds, nullptr);
    EXPECT_EQ(*static_cast<int*>(MonoAPI::mono_object_unbox_ptr(adds)), kRecords);
    EXPECT_TRUE(gc2std(joined) == expected);
}

TEST_F(BadInputTest, MillionRecordsComeBackFromAListWholeAndInOrder) {
    constexpr int kRecords = 1000000;
    constexpr int kLength = 24;
    int count = kRecords;
    int length = kLength;
    void* args[] = {&count, &length};
    MonoObject* list = TestDouble::CallStatic("TestLists", "Generated", args, 2);
    ASSERT_NE(list, nullptr);
    std::vector<SString> texts{{"stale"}};
    {
        reliability::Collector collector(std::chrono::milliseconds(20));
        ASSERT_TRUE(CCloudSDKHelper::ConvertStringList_ManagedToNative(texts, list));
        EXPECT_GT(collector.Stop(), 0);
    }
    ASSERT_EQ(texts.size(), static_cast<size_t>(kRecords));
    int wrong = 0;
    for (int i = 0; i < kRecords; ++i) {
        // Each text begins with its index in ten digits and is kLength characters long.
        char index[16];
        std::snprintf(index, sizeof index, "%010d", i);
        wrong += texts[i].strValue.size() != kLength || texts[i].strValue.compare(0, 10, index) != 0;
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(BadInputTest, HundredThousandAccountsComeBackThroughTheBridge) {
    constexpr int kAccounts = 100000;
    std::string accountList = "accounts:";
    for (int i = 0; i < kAccounts; ++i) {
        accountList += (i > 0 ? "|n" : "n") + std::to_string(i) + ",t,l";
    }
    TestDouble::Script("GetDatabaseAccountInfoListForRegion", "result", accountList);
    std::vector<SStorageAccountInfo> accounts;
    ASSERT_TRUE(bridge->GetDatabaseAccountInfoListForRegion("x", CosmosDBBrowseKind1, accounts));
    ASSERT_EQ(accounts.size(), static_cast<size_t>(kAccounts));
    int wrong = 0;
    for (int i = 0; i < kAccounts; ++i) {
        wrong += accounts[i].strName != "n" + std::to_string(i) || accounts[i].strLocation != "l";
    }
    EXPECT_EQ(wrong, 0);
}

// ---- Array lengths ---------------------------------------------------------------------------------

int ArrayLength(MonoArray* array) {
    void* args[] = {array};
    MonoObject* length = TestDouble::CallStatic("Arrays", "Length", args, 1);
    return length != nullptr ? *static_cast<int*>(MonoAPI::mono_object_unbox_ptr(length)) : -2;
}

TEST_F(BadInputTest, NegativeArrayLengthsAreRefusedAndZeroIsAnEmptyArray) {
    for (int length : {-1, -2, INT_MIN}) {
        EXPECT_EQ(NewManagedArray("Negative", length), nullptr) << length;
    }
    EXPECT_EQ(CountInLog("Could not create array of class [Negative]"), 3);
    MonoArray* empty = NewManagedArray("Empty", 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(ArrayLength(empty), 0);
}

TEST_F(BadInputTest, HugeArrayLengthGivesAnArrayOfThatLengthOrNull) {
    // The largest length an int can give: 2 GiB of bytes. The runtime may or may not find
    // the memory; either way the call returns, and an array that comes back is whole.
    MonoArray* huge = NewManagedArray("Huge", INT_MAX);
    if (huge != nullptr) {
        EXPECT_EQ(ArrayLength(huge), INT_MAX);
    } else {
        EXPECT_EQ(CountInLog("Could not create array of class [Huge]"), 1);
    }
    MonoArray* large = NewManagedArray("Large", 64 << 20);
    ASSERT_NE(large, nullptr);
    EXPECT_EQ(ArrayLength(large), 64 << 20);
}

// ---- Field widths ----------------------------------------------------------------------------------

class FieldWidthTest : public BadInputTest {
protected:
    void SetUp() override {
        BadInputTest::SetUp();
        object = NewManagedObjectAzure("ReliabilityWidths", true);
        ASSERT_NE(object, nullptr);
        klass = MonoAPI::mono_object_get_class_ptr(object);
    }
    MonoObject* object = nullptr;
    MonoClass* klass = nullptr;
};

const char* const kValueFields[] = {"u8", "flag", "i16", "i32", "i64", "f64", "d128", "when", "guid"};
const char* const kReferenceFields[] = {"text", "boxed", "reference"};

TEST_F(FieldWidthTest, EachGetterReadsOnlyFieldsOfItsOwnWidth) {
    int refused = 0;
    for (const char* field : kValueFields) {
        const std::string name = field;
        const bool one = name == "u8" || name == "flag";
        const bool eight = name == "i64" || name == "f64" || name == "when";
        // Anything else reads as the getter's zero, with a record naming the field.
        const bool b = GetBoolFieldValue(klass, object, field);
        EXPECT_EQ(b, one) << field;
        refused += !one;
        const int i = GetIntFieldValue(klass, object, field);
        EXPECT_EQ(i, name == "i32" ? -0x5A5B5C5D : 0) << field;
        refused += name != "i32";
        const long long l = GetLongFieldValue(klass, object, field);
        EXPECT_EQ(l != 0, eight) << field;
        refused += !eight;
        EXPECT_EQ(GetFieldValue(klass, object, field), nullptr) << field;
        EXPECT_EQ(GetStringFieldValue(klass, object, field), "") << field;
        refused += 2;
    }
    EXPECT_EQ(GetLongFieldValue(klass, object, "i64"), -0x5A5B5C5D5E5F6061LL);
    for (const char* field : kReferenceFields) {
        EXPECT_FALSE(GetBoolFieldValue(klass, object, field)) << field;
        EXPECT_EQ(GetIntFieldValue(klass, object, field), 0) << field;
        EXPECT_EQ(GetLongFieldValue(klass, object, field), 0) << field;
        refused += 3;
        EXPECT_NE(GetFieldValue(klass, object, field), nullptr) << field;
    }
    EXPECT_EQ(GetStringFieldValue(klass, object, "text"), "width");
    EXPECT_EQ(GetStringFieldValue(klass, object, "boxed"), "");
    EXPECT_EQ(CountInLog("Field [boxed] does not hold a string"), 1);
    EXPECT_EQ(CountInLog("] is not an instance field holding "), refused);
    // The object is as it was: no read wrote into it.
    EXPECT_EQ(GetIntFieldValue(klass, object, "i32"), -0x5A5B5C5D);
    EXPECT_TRUE(GetBoolFieldValue(klass, object, "u8"));
}

// A field found on one class, read or written in an object of another: its offset would
// land past the end of a smaller object, in its neighbour on the managed heap.
TEST_F(FieldWidthTest, FieldsAreNeitherReadNorWrittenInAnObjectOfAnotherClass) {
    MonoObject* small = NewManagedObjectAzure("SStringLib", true);
    MonoObject* neighbour = NewManagedObjectAzure("SStringLib", true);
    ASSERT_NE(small, nullptr);
    ASSERT_NE(neighbour, nullptr);
    MonoClass* textClass = MonoAPI::mono_object_get_class_ptr(small);
    SetFieldValue(textClass, neighbour, "strValue", std2gc("neighbour"));
    const uint32_t keepSmall = MonoAPI::mono_gchandle_new_ptr(small, false);
    const uint32_t keepNeighbour = MonoAPI::mono_gchandle_new_ptr(neighbour, false);

    long long pattern = 0x4141414141414141LL;
    for (const char* field : kValueFields) {
        SetFieldValue(klass, small, field, &pattern);
        EXPECT_FALSE(GetBoolFieldValue(klass, small, field)) << field;
        EXPECT_EQ(GetIntFieldValue(klass, small, field), 0) << field;
        EXPECT_EQ(GetLongFieldValue(klass, small, field), 0) << field;
        EXPECT_EQ(GetStructFieldValue(klass, small, field), nullptr) << field;
        EXPECT_EQ(GetDateTimeFieldValue(klass, small, field), 0) << field;
    }
    for (const char* field : kReferenceFields) {
        EXPECT_EQ(GetFieldValue(klass, small, field), nullptr) << field;
        EXPECT_EQ(GetStringFieldValue(klass, small, field), "") << field;
    }
    const int fields = static_cast<int>(std::size(kValueFields));
    EXPECT_EQ(CountInLog("of an object of another class"),
              fields * 4 + static_cast<int>(std::size(kReferenceFields)) * 2);
    reliability::CollectFully();
    // Both objects are as they were, and the heap survived a collection.
    EXPECT_EQ(GetStringFieldValue(textClass, MonoAPI::mono_gchandle_get_target_ptr(keepNeighbour), "strValue"),
              "neighbour");
    EXPECT_TRUE(GetBoolFieldValue(textClass, MonoAPI::mono_gchandle_get_target_ptr(keepSmall), "bConstructed"));
    MonoAPI::mono_gchandle_free_ptr(keepSmall);
    MonoAPI::mono_gchandle_free_ptr(keepNeighbour);

    // An object of a derived class has every field of the base class.
    int throwOn = 9;
    void* args[] = {&throwOn};
    MonoObject* derived = TestDouble::CallStatic("ReliabilityLists", "AddThrowsOn", args, 1);
    ASSERT_NE(derived, nullptr);
    MonoClass* baseList = MonoAPI::mono_class_from_name_ptr(g_image, "CloudSDKWrapper", "SStringLibList");
    int added = 5;
    SetFieldValue(baseList, derived, "AddCalls", &added);
    EXPECT_EQ(GetIntFieldValue(baseList, derived, "AddCalls"), 5);
    EXPECT_EQ(GetIntFieldValue(MonoAPI::mono_object_get_class_ptr(derived), derived, "ThrowOn"), 9);
}

// ---- Null objects ----------------------------------------------------------------------------------

TEST_F(FieldWidthTest, NullObjectsGiveEmptyResultsWhereTheFunctionsAcceptThem) {
    EXPECT_EQ(GetFieldValue(klass, nullptr, "text"), nullptr);
    EXPECT_EQ(GetStringFieldValue(klass, nullptr, "text"), "");
    EXPECT_FALSE(GetBoolFieldValue(klass, nullptr, "flag"));
    EXPECT_EQ(GetIntFieldValue(klass, nullptr, "i32"), 0);
    EXPECT_EQ(GetLongFieldValue(klass, nullptr, "i64"), 0);
    EXPECT_EQ(CountInLog("Could not read field ["), 5);
    EXPECT_EQ(GetStructFieldValue(klass, nullptr, "guid"), nullptr);
    EXPECT_EQ(GetDateTimeFieldValue(klass, nullptr, "when"), 0);
    EXPECT_TRUE(IsStringFieldEmpty(nullptr, "text"));
    int value = 5;
    SetFieldValue(klass, nullptr, "i32", &value);
    EXPECT_EQ(CountInLog("Could not write field [i32] of a null object"), 1);
    // A null class finds no field.
    EXPECT_EQ(GetFieldValue(nullptr, object, "text"), nullptr);
    EXPECT_EQ(GetIntFieldValue(nullptr, object, "i32"), 0);
    EXPECT_EQ(GetStructFieldValue(nullptr, object, "guid"), nullptr);
    // A null string, list or element converts to nothing.
    EXPECT_EQ(gc2std(nullptr), "");
    std::vector<SString> texts{{"stale"}};
    EXPECT_TRUE(CCloudSDKHelper::ConvertStringList_ManagedToNative(texts, nullptr));
    EXPECT_TRUE(texts.empty());
    std::vector<SStorageAccountInfo> accounts{{"stale", "", ""}};
    EXPECT_TRUE(CCloudSDKHelper::ConvertStorageAccountInfoList_ManagedToNative(accounts, nullptr));
    EXPECT_TRUE(accounts.empty());
    SString record{"kept"};
    MonoObject* none = nullptr;
    CCloudSDKHelper::ConvertObject_ManagedToNative(record, none);
    EXPECT_EQ(record.strValue, "kept");
    CCloudSDKHelper::ConvertObject_NativeToManaged(none, record);
    EXPECT_EQ(none, nullptr);
    // A null reference written into a reference field clears it.
    SetFieldValue(klass, object, "text", nullptr);
    EXPECT_EQ(GetFieldValue(klass, object, "text"), nullptr);
    EXPECT_TRUE(IsStringFieldEmpty(object, "text"));
    // Diagnostics of nothing write nothing.
    const size_t logBefore = testsupport::ReadLog().size();
    DumpClassMethods(nullptr);
    DumpClassFields(nullptr);
    DumpMethod(nullptr);
    EXPECT_EQ(testsupport::ReadLog().size(), logBefore);
    LogException("NullException", nullptr);
    EXPECT_EQ(CountInLog("NullException: Exception caught in bridge - \n"), 1);
}

}  // namespace
