// Creating managed objects, date-times and byte arrays from native code.

#include "MarshalTest.h"

namespace marshaltest {
namespace {

using ObjectCreationTest = MarshalTest;

TEST_F(ObjectCreationTest, WithoutConstructorEveryFieldIsZeroAndNoManagedCodeRan) {
    MonoObject* object = NewManagedObjectAzure("FieldKinds", false);
    ASSERT_NE(object, nullptr);
    MonoClass* klass = MonoAPI::mono_object_get_class_ptr(object);
    EXPECT_EQ(GetFieldValue(klass, object, "strText"), nullptr);
    EXPECT_EQ(GetFieldValue(klass, object, "refOther"), nullptr);
    EXPECT_FALSE(GetBoolFieldValue(klass, object, "bFlag"));
    EXPECT_EQ(GetIntFieldValue(klass, object, "nCount"), 0);
    EXPECT_EQ(GetLongFieldValue(klass, object, "llBig"), 0);
    EXPECT_EQ(Logged("ERROR"), 0);
}

TEST_F(ObjectCreationTest, WithConstructorTheDefaultConstructorRan) {
    MonoObject* object = NewManagedObjectAzure("SStringLib", true);
    ASSERT_NE(object, nullptr);
    MonoClass* klass = MonoAPI::mono_object_get_class_ptr(object);
    EXPECT_TRUE(GetBoolFieldValue(klass, object, "bConstructed"));
    MonoObject* bare = NewManagedObjectAzure("SStringLib", false);
    ASSERT_NE(bare, nullptr);
    EXPECT_FALSE(GetBoolFieldValue(klass, bare, "bConstructed"));
}

TEST_F(ObjectCreationTest, UnknownClassIsNullWithItsNameAndNamespace) {
    EXPECT_EQ(NewManagedObjectAzure("NoSuchClass", true), nullptr);
    EXPECT_EQ(Logged("Could not find class [NoSuchClass] in CloudSDKWrapper"), 1);
}

TEST_F(ObjectCreationTest, ThrowingConstructorGivesNullAndTheProcessLives) {
    EXPECT_EQ(NewManagedObjectAzure("ThrowingConstructor", true), nullptr);
    EXPECT_EQ(Logged("Constructor of class [ThrowingConstructor] in CloudSDKWrapper raised FormatException"), 1);
    // Without the constructor the same class is an ordinary object.
    EXPECT_NE(NewManagedObjectAzure("ThrowingConstructor", false), nullptr);
}

TEST_F(ObjectCreationTest, ClassWithoutDefaultConstructorGivesNull) {
    EXPECT_EQ(NewManagedObjectAzure("WithoutDefaultConstructor", true), nullptr);
    EXPECT_EQ(Logged("Could not find default constructor of class [WithoutDefaultConstructor]"), 1);
}

TEST_F(ObjectCreationTest, DateTimeIsABoxedZeroTickDateTime) {
    MonoObject* dateTime = NewManagedDateTime();
    ASSERT_NE(dateTime, nullptr);
    MonoClass* klass = MonoAPI::mono_object_get_class_ptr(dateTime);
    EXPECT_STREQ(MonoAPI::mono_class_get_name_ptr(klass), "DateTime");
    EXPECT_EQ(*static_cast<const uint64_t*>(MonoAPI::mono_object_unbox_ptr(dateTime)), 0u);
}

TEST_F(ObjectCreationTest, ArrayIsOfBytesWhateverTheClassName) {
    MonoArray* array = NewManagedArray("AnyName", 4);
    ASSERT_NE(array, nullptr);
    void* args[] = {array};
    EXPECT_EQ(Unboxed(Static("Arrays", "Length", args, 1)), 4);
    EXPECT_EQ(Logged("AnyName"), 0);

    MonoArray* empty = NewManagedArray("Empty", 0);
    void* emptyArgs[] = {empty};
    EXPECT_EQ(Unboxed(Static("Arrays", "Length", emptyArgs, 1)), 0);
}

TEST_F(ObjectCreationTest, NegativeArrayLengthIsNullWithTheClassName) {
    EXPECT_EQ(NewManagedArray("Refused", -1), nullptr);
    EXPECT_EQ(NewManagedArray("Refused", INT_MIN), nullptr);
    EXPECT_EQ(Logged("Could not create array of class [Refused]"), 2);
}

}  // namespace
}  // namespace marshaltest
