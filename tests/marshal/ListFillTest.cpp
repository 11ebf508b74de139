// Native vectors to managed lists, and the factory that makes the lists.

#include "MarshalTest.h"

#include "marshal/CloudSDKHelper.h"

#include <vector>

namespace marshaltest {
namespace {

using CloudSDKCppBridge::SString;
using CloudSDKCppBridgeHelper::CCloudSDKHelper;

class ListFillTest : public MarshalTest {
protected:
    static int Count(MonoObject* list) {
        void* args[] = {list};
        return Unboxed(Static("TestLists", "Count", args, 1));
    }
    static int AddCalls(MonoObject* list) {
        void* args[] = {list};
        return Unboxed(Static("TestLists", "AddCalls", args, 1));
    }
    static MonoObject* ElementAt(MonoObject* list, int index) {
        void* args[] = {list, &index};
        return Static("TestLists", "ElementAt", args, 2);
    }
    static bool Same(MonoObject* a, MonoObject* b) {
        void* args[] = {a, b};
        return UnboxedBool(Static("TestLists", "Same", args, 2));
    }
    static const char* ClassName(MonoObject* object) {
        return MonoAPI::mono_class_get_name_ptr(MonoAPI::mono_object_get_class_ptr(object));
    }
    bool Fill(MonoObject* list, const std::vector<SString>& in, const char* elementClass) {
        return CCloudSDKHelper::ConvertList_NativeToManaged(list, in, static_cast<MonoObject*>(nullptr), elementClass);
    }
};

TEST_F(ListFillTest, CreateListCallsTheFactoryMethodNamedAfterTheKind) {
    MonoObject* list = CCloudSDKHelper::CreateList("SStringLibHandle");
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(ClassName(list), "SStringLibList");
    EXPECT_EQ(Count(list), 0);
    // Every "Handle" goes, wherever it stands.
    MonoObject* addless = CCloudSDKHelper::CreateList("AddHandlelessLibHandle");
    ASSERT_NE(addless, nullptr);
    EXPECT_STREQ(ClassName(addless), "ListWithoutAdd");
}

TEST_F(ListFillTest, CreateListFailuresNameTheFactoryMethod) {
    EXPECT_EQ(CCloudSDKHelper::CreateList("NoSuchHandle"), nullptr);
    EXPECT_EQ(Logged("Failed to get create list method [CreateNoSuchList]"), 1);
    EXPECT_EQ(CCloudSDKHelper::CreateList("NullLibHandle"), nullptr);
    EXPECT_EQ(Logged("Failed to invoke create list method [CreateNullLibList]"), 1);
    EXPECT_EQ(CCloudSDKHelper::CreateList("ThrowingLibHandle"), nullptr);
    EXPECT_EQ(Logged("Create list method [CreateThrowingLibList] raised InvalidOperationException"), 1);
}

TEST_F(ListFillTest, FactoryMethodThatTheCallCannotServeIsNotRun) {
    // Invoked with no arguments and no instance, these would read garbage.
    EXPECT_EQ(CCloudSDKHelper::CreateList("ParameterLib"), nullptr);
    EXPECT_EQ(CCloudSDKHelper::CreateList("InstanceLib"), nullptr);
    EXPECT_EQ(Logged("Failed to get create list method [CreateParameterLibList]"), 1);
    EXPECT_EQ(Logged("Failed to get create list method [CreateInstanceLibList]"), 1);
}

TEST_F(ListFillTest, EmptyVectorStillMakesAnEmptyList) {
    MonoObject* list = nullptr;
    EXPECT_TRUE(CCloudSDKHelper::ConvertStringList_NativeToManaged(list, {}));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(Count(list), 0);
    EXPECT_EQ(AddCalls(list), 0);
    EXPECT_EQ(Logged("ERROR"), 0);
}

TEST_F(ListFillTest, TwoRecordsGiveTwoDistinctConstructedElements) {
    MonoObject* list = nullptr;
    EXPECT_TRUE(CCloudSDKHelper::ConvertStringList_NativeToManaged(list, {{"first"}, {""}}));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(AddCalls(list), 2);
    MonoObject* first = ElementAt(list, 0);
    MonoObject* second = ElementAt(list, 1);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(Same(first, second));
    MonoClass* klass = MonoAPI::mono_object_get_class_ptr(first);
    EXPECT_STREQ(MonoAPI::mono_class_get_name_ptr(klass), "SStringLib");
    EXPECT_TRUE(GetBoolFieldValue(klass, first, "bConstructed"));
    EXPECT_TRUE(GetBoolFieldValue(klass, second, "bConstructed"));
    EXPECT_EQ(GetStringFieldValue(klass, first, "strValue"), "first");
    // An empty text is an empty managed string, not null.
    auto* empty = static_cast<MonoString*>(GetFieldValue(klass, second, "strValue"));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(MonoAPI::mono_string_length_ptr(empty), 0);
}

TEST_F(ListFillTest, ElementsKeepTheirTextsThroughCollectionsDuringTheFill) {
    MonoObject* list = CCloudSDKHelper::CreateList("CollectingLibHandle");
    ASSERT_NE(list, nullptr);
    std::vector<SString> in;
    for (int i = 0; i < 50; ++i) in.push_back({"item " + std::to_string(i)});
    ASSERT_TRUE(Fill(list, in, "SStringLib"));
    ASSERT_EQ(Count(list), 50);
    for (int i = 0; i < 50; ++i) {
        MonoObject* element = ElementAt(list, i);
        EXPECT_EQ(GetStringFieldValue(MonoAPI::mono_object_get_class_ptr(element), element, "strValue"),
                  in[i].strValue);
    }
}

TEST_F(ListFillTest, RecordToElementReplacesTheHandleWithANewConstructedElement) {
    MonoObject* element = NewManagedObjectAzure("SStringLib", false);
    ASSERT_NE(element, nullptr);
    MonoObject* carrier = element;
    CCloudSDKHelper::ConvertObject_NativeToManaged(element, SString{"text"});
    ASSERT_NE(element, nullptr);
    EXPECT_FALSE(Same(element, carrier));
    MonoClass* klass = MonoAPI::mono_object_get_class_ptr(element);
    EXPECT_TRUE(GetBoolFieldValue(klass, element, "bConstructed"));
    EXPECT_EQ(GetStringFieldValue(klass, element, "strValue"), "text");

    MonoObject* none = nullptr;
    CCloudSDKHelper::ConvertObject_NativeToManaged(none, SString{"lost"});
    EXPECT_EQ(none, nullptr);
}

TEST_F(ListFillTest, ListWithoutAddIsLoggedWithItsMethodsAlsoForNoRecords) {
    MonoObject* list = CCloudSDKHelper::CreateList("AddlessLibHandle");
    ASSERT_NE(list, nullptr);
    EXPECT_FALSE(Fill(list, {}, "SStringLib"));
    EXPECT_EQ(Logged("Failed to get add method for class [ListWithoutAdd]"), 1);
    EXPECT_EQ(Logged("Method: Append\n"), 1);
    EXPECT_FALSE(Fill(list, {{"a"}}, "SStringLib"));
    EXPECT_EQ(Count(list), 0);
}

TEST_F(ListFillTest, NullListDoesNothing) {
    EXPECT_FALSE(Fill(nullptr, {{"a"}}, "SStringLib"));
    EXPECT_EQ(Logged("ERROR"), 0);
}

TEST_F(ListFillTest, MissingElementClassStopsBeforeAnyAdd) {
    MonoObject* list = CCloudSDKHelper::CreateList("SStringLibHandle");
    EXPECT_FALSE(Fill(list, {{"a"}, {"b"}}, "NoSuchElement"));
    EXPECT_EQ(AddCalls(list), 0);
    EXPECT_EQ(Logged("Could not find class [NoSuchElement] in CloudSDKWrapper"), 1);
}

TEST_F(ListFillTest, ElementThatCannotBeConstructedStopsTheFill) {
    MonoObject* list = CCloudSDKHelper::CreateList("SStringLibHandle");
    EXPECT_FALSE(Fill(list, {{"a"}, {"b"}}, "ThrowingConstructor"));
    EXPECT_EQ(AddCalls(list), 0);
    EXPECT_EQ(Logged("Constructor of class [ThrowingConstructor] in CloudSDKWrapper raised FormatException"), 1);
}

TEST_F(ListFillTest, ExceptionInAddStopsTheFillWithTheElementsAddedSoFar) {
    MonoObject* list = CCloudSDKHelper::CreateList("SecondAddThrowsLibHandle");
    ASSERT_NE(list, nullptr);
    EXPECT_FALSE(Fill(list, {{"a"}, {"b"}, {"c"}}, "SStringLib"));
    EXPECT_EQ(Count(list), 1);
    EXPECT_EQ(Logged("Add method of class [ThrowingAddList] raised InvalidCastException"), 1);
}

TEST_F(ListFillTest, ElementClassWithoutUsableTextFieldIsAddedButReported) {
    // An account list, whose Add takes any object, so that other element classes fit.
    MonoObject* list = List("accounts:");
    EXPECT_FALSE(Fill(list, {{"a"}, {"b"}}, "TextWithoutValue"));
    EXPECT_EQ(Logged("Could not find field [strValue]"), 2);
    EXPECT_FALSE(Fill(list, {{"a"}}, "StaticValueText"));
    EXPECT_EQ(Logged("Field [strValue] is static and is not written"), 1);
    EXPECT_EQ(Count(list), 3);
}

TEST_F(ListFillTest, AddTakingAnotherClassOrAValueIsNotRun) {
    for (const char* listClass : {"ListWithTextAdd", "ListWithNumberAdd"}) {
        MonoObject* list = NewManagedObjectAzure(listClass, true);
        ASSERT_NE(list, nullptr);
        EXPECT_FALSE(Fill(list, {{"a"}}, "SStringLib")) << listClass;
        EXPECT_EQ(GetIntFieldValue(MonoAPI::mono_object_get_class_ptr(list), list, "nAdded"), 0) << listClass;
    }
    EXPECT_EQ(Logged("Managed method [ListWithTextAdd.Add] is not run: argument 1 is a [SStringLib], not a [string]"),
              1);
    EXPECT_EQ(Logged("Managed method [ListWithNumberAdd.Add] does not fit the call: expected instance (object), "
                     "found instance (int)"),
              1);
    EXPECT_EQ(Logged("Failed to get add method for class [ListWithNumberAdd]"), 1);
}

TEST_F(ListFillTest, RestoreItemsReachTheManagedMethodAsOneList) {
    CloudSDKCppBridge::CCloudSDKCppBridge bridge;
    EXPECT_TRUE(bridge.AddCosmosDBRestoreItems({{"x"}, {""}, {"x"}}));
    EXPECT_EQ(testsupport::TestDouble::LastCall("AddCosmosDBRestoreItems"), "\"x||x\"|3");
}

}  // namespace
}  // namespace marshaltest
