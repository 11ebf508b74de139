// Reading and writing fields: values of every kind, missing fields, and fields that do
// not fit the getter's slot (which the runtime would otherwise overrun).

#include "MarshalTest.h"

#include <string>

namespace marshaltest {
namespace {

using FieldAccessTest = FieldKindsTest;

TEST_F(FieldAccessTest, GettersReadEachKindOfField) {
    EXPECT_EQ(GetStringFieldValue(klass, object, "strText"), "text \u00e9\u4e2d\U0001F600");
    EXPECT_TRUE(GetBoolFieldValue(klass, object, "bFlag"));
    EXPECT_EQ(GetIntFieldValue(klass, object, "nCount"), -123456);
    EXPECT_EQ(GetLongFieldValue(klass, object, "llBig"), 0x123456789ABCDEFLL);
    EXPECT_NE(GetFieldValue(klass, object, "refOther"), nullptr);
    EXPECT_EQ(Logged("ERROR"), 0);
}

TEST_F(FieldAccessTest, NullStringFieldIsEmptyWithoutMessage) {
    EXPECT_EQ(GetStringFieldValue(klass, object, "strNull"), "");
    EXPECT_EQ(GetFieldValue(klass, object, "strNull"), nullptr);
    EXPECT_EQ(Logged("ERROR"), 0);
}

TEST_F(FieldAccessTest, MissingFieldIsLoggedOncePerGetter) {
    EXPECT_EQ(GetStringFieldValue(klass, object, "strMissing"), "");
    EXPECT_EQ(Logged("Could not find field [strMissing]"), 1);
    EXPECT_EQ(GetFieldValue(klass, object, "refMissing"), nullptr);
    EXPECT_FALSE(GetBoolFieldValue(klass, object, "bMissing"));
    EXPECT_EQ(GetIntFieldValue(klass, object, "nMissing"), 0);
    EXPECT_EQ(GetLongFieldValue(klass, object, "llMissing"), 0);
    EXPECT_EQ(Logged("Could not find field [refMissing]"), 1);
    EXPECT_EQ(Logged("Could not find field [bMissing]"), 1);
    EXPECT_EQ(Logged("Could not find field [nMissing]"), 1);
    EXPECT_EQ(Logged("Could not find field [llMissing]"), 1);
}

TEST_F(FieldAccessTest, StructAndDateTimeGettersAreSilentOnMissingField) {
    EXPECT_EQ(GetStructFieldValue(klass, object, "ptMissing"), nullptr);
    EXPECT_EQ(GetDateTimeFieldValue(klass, object, "dtMissing"), 0);
    EXPECT_EQ(Logged("ERROR"), 0);
}

// Each pair is a getter and a field whose stored size differs from the getter's slot: the
// runtime would write the field's full size into the slot.
TEST_F(FieldAccessTest, FieldOfAnotherWidthIsRefusedWithItsName) {
    EXPECT_FALSE(GetBoolFieldValue(klass, object, "llBig"));
    EXPECT_FALSE(GetBoolFieldValue(klass, object, "nCount"));
    EXPECT_EQ(GetIntFieldValue(klass, object, "llBig"), 0);
    EXPECT_EQ(GetIntFieldValue(klass, object, "ptWhere"), 0);   // 8-byte struct
    EXPECT_EQ(GetFieldValue(klass, object, "llBig"), nullptr);  // a value, not a reference
    EXPECT_EQ(GetLongFieldValue(klass, object, "strText"), 0);  // a reference, not a value
    EXPECT_EQ(Logged("Field [llBig] is not an instance field holding a 1-byte value"), 1);
    EXPECT_EQ(Logged("Field [nCount] is not an instance field holding a 1-byte value"), 1);
    EXPECT_EQ(Logged("Field [llBig] is not an instance field holding a 4-byte value"), 1);
    EXPECT_EQ(Logged("Field [ptWhere] is not an instance field holding a 4-byte value"), 1);
    EXPECT_EQ(Logged("Field [llBig] is not an instance field holding a reference"), 1);
    EXPECT_EQ(Logged("Field [strText] is not an instance field holding an 8-byte value"), 1);
}

TEST_F(FieldAccessTest, StaticFieldsAreNeitherReadNorWritten) {
    EXPECT_EQ(GetIntFieldValue(klass, object, "nShared"), 0);
    EXPECT_EQ(GetIntFieldValue(klass, object, "nConstant"), 0);
    EXPECT_EQ(GetStringFieldValue(klass, object, "strShared"), "");
    EXPECT_EQ(Logged("Field [nShared] is not an instance field"), 1);
    EXPECT_EQ(Logged("Field [nConstant] is not an instance field"), 1);
    EXPECT_EQ(Logged("Field [strShared] is not an instance field"), 1);

    int value = 99;
    SetFieldValue(klass, object, "nShared", &value);
    EXPECT_EQ(Logged("Field [nShared] is static and is not written"), 1);
    MonoObject* shared =
        GetStructFieldValue(klass, object, "nShared");  // the boxed static value, untouched
    EXPECT_EQ(Unboxed(shared), 7);
}

TEST_F(FieldAccessTest, ReferenceFieldHoldingNoStringIsNotReadAsText) {
    EXPECT_EQ(GetStringFieldValue(klass, object, "objNotText"), "");
    EXPECT_TRUE(IsStringFieldEmpty(object, "objNotText"));
    EXPECT_EQ(Logged("Field [objNotText] does not hold a string"), 2);
}

TEST_F(FieldAccessTest, IsStringFieldEmptyForMissingNullAndZeroLength) {
    EXPECT_TRUE(IsStringFieldEmpty(object, "strMissing"));
    EXPECT_EQ(Logged("Could not find field [strMissing]"), 1);
    EXPECT_TRUE(IsStringFieldEmpty(object, "strNull"));
    EXPECT_TRUE(IsStringFieldEmpty(object, "strEmpty"));
    EXPECT_FALSE(IsStringFieldEmpty(object, "strText"));

    MonoString* one = std2gc("x");
    SetFieldValue(klass, object, "strEmpty", one);
    EXPECT_FALSE(IsStringFieldEmpty(object, "strEmpty"));
}

TEST_F(FieldAccessTest, SetFieldValueWritesReferencesAndValues) {
    SetFieldValue(klass, object, "strNull", std2gc("written"));
    EXPECT_EQ(GetStringFieldValue(klass, object, "strNull"), "written");

    int count = 77;
    SetFieldValue(klass, object, "nCount", &count);
    EXPECT_EQ(GetIntFieldValue(klass, object, "nCount"), 77);
    long long big = -5;
    SetFieldValue(klass, object, "llBig", &big);
    EXPECT_EQ(GetLongFieldValue(klass, object, "llBig"), -5);

    SetFieldValue(klass, object, "strNull", nullptr);
    EXPECT_EQ(GetFieldValue(klass, object, "strNull"), nullptr);

    SetFieldValue(klass, object, "strMissing", std2gc("lost"));
    EXPECT_EQ(Logged("Could not find field [strMissing]"), 1);
}

TEST_F(FieldAccessTest, ReferenceFieldTakesOnlyObjectsOfItsType) {
    // Stored, a string in a field of element type would be used as an element.
    SetFieldValue(klass, object, "refOther", std2gc("not an element"));
    SetFieldValue(klass, object, "strText", NewManagedObjectAzure("SStringLib", true));
    EXPECT_EQ(GetStringFieldValue(klass, object, "strText"), "text \u00e9\u4e2d\U0001F600");
    MonoObject* other = static_cast<MonoObject*>(GetFieldValue(klass, object, "refOther"));
    ASSERT_NE(other, nullptr);
    EXPECT_STREQ(MonoAPI::mono_class_get_name_ptr(MonoAPI::mono_object_get_class_ptr(other)), "SStringLib");
    EXPECT_EQ(Logged("Field [refOther] does not take an object of class [String]"), 1);
    EXPECT_EQ(Logged("Field [strText] does not take an object of class [SStringLib]"), 1);
    // An object field takes any object.
    SetFieldValue(klass, object, "objNotText", std2gc("now a text"));
    EXPECT_FALSE(IsStringFieldEmpty(object, "objNotText"));
}

TEST_F(FieldAccessTest, StructFieldIsABoxedCopyAndReferenceFieldTheObjectItself) {
    MonoObject* point = GetStructFieldValue(klass, object, "ptWhere");
    ASSERT_NE(point, nullptr);
    MonoClass* pointClass = MonoAPI::mono_object_get_class_ptr(point);
    EXPECT_STREQ(MonoAPI::mono_class_get_name_ptr(pointClass), "SmallPoint");
    EXPECT_EQ(GetIntFieldValue(pointClass, point, "nY"), 4);

    int x = 100;
    SetFieldValue(pointClass, point, "nX", &x);  // changes the copy only
    EXPECT_EQ(GetIntFieldValue(pointClass, point, "nX"), 100);
    void* args[] = {object};
    EXPECT_EQ(Unboxed(Static("FieldKinds", "PointX", args, 1)), 3);

    MonoObject* other = GetStructFieldValue(klass, object, "refOther");
    void* same[] = {other, GetFieldValue(klass, object, "refOther")};
    EXPECT_TRUE(UnboxedBool(Static("TestLists", "Same", same, 2)));
    EXPECT_EQ(GetStructFieldValue(klass, object, "strNull"), nullptr);
}

}  // namespace
}  // namespace marshaltest
