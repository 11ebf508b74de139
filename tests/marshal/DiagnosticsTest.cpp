// The class iterator and the metadata dumps.

#include "MarshalTest.h"

#include <cstdint>
#include <string>
#include <vector>

#ifndef EMPTY_ASSEMBLY_PATH
#error "EMPTY_ASSEMBLY_PATH names an assembly without classes of its own"
#endif

namespace marshaltest {
namespace {

constexpr uint32_t kTypeDefToken = 0x02000000;

class DiagnosticsTest : public MarshalTest {
protected:
    static int Rows(MonoImage* image) { return MonoAPI::mono_image_get_table_rows_ptr(image, 2); }
    static MonoClass* Row(int row) { return MonoAPI::mono_class_get_ptr(g_image, kTypeDefToken | row); }
    static void* Cursor(uintptr_t value) { return reinterpret_cast<void*>(value); }
    static uintptr_t Value(void* cursor) { return reinterpret_cast<uintptr_t>(cursor); }
};

TEST_F(DiagnosticsTest, NullCursorSlotGivesNull) {
    EXPECT_EQ(mono_image_get_classes(g_image, nullptr), nullptr);
}

TEST_F(DiagnosticsTest, WalkYieldsRowsTwoToLastThenNullAndResets) {
    const int rows = Rows(g_image);
    ASSERT_GE(rows, 3);
    void* cursor = nullptr;
    std::vector<MonoClass*> seen;
    while (MonoClass* klass = mono_image_get_classes(g_image, &cursor)) {
        seen.push_back(klass);
        ASSERT_LE(seen.size(), static_cast<size_t>(rows)) << "the walk does not end";
    }
    ASSERT_EQ(seen.size(), static_cast<size_t>(rows - 1));
    for (int row = 2; row <= rows; ++row) {
        EXPECT_EQ(seen[row - 2], Row(row)) << "row " << row;
    }
    EXPECT_EQ(cursor, nullptr);
    // The same cursor starts a new walk.
    EXPECT_EQ(mono_image_get_classes(g_image, &cursor), Row(2));
    EXPECT_EQ(Value(cursor), 2u);
}

TEST_F(DiagnosticsTest, CursorOfKContinuesWithRowKPlusOne) {
    void* cursor = Cursor(5);
    EXPECT_EQ(mono_image_get_classes(g_image, &cursor), Row(6));
    EXPECT_EQ(Value(cursor), 6u);
    // The cursor of the last row ends the walk.
    cursor = Cursor(static_cast<uintptr_t>(Rows(g_image)));
    EXPECT_EQ(mono_image_get_classes(g_image, &cursor), nullptr);
    EXPECT_EQ(cursor, nullptr);
}

TEST_F(DiagnosticsTest, HighHalfOfTheCursorIsTheCallers) {
    const uintptr_t high = uintptr_t{0xABCD} << 32;
    void* cursor = Cursor(high | 3);
    EXPECT_EQ(mono_image_get_classes(g_image, &cursor), Row(4));
    EXPECT_EQ(Value(cursor), high | 4);
    cursor = Cursor(high | static_cast<uintptr_t>(Rows(g_image)));
    EXPECT_EQ(mono_image_get_classes(g_image, &cursor), nullptr);
    EXPECT_EQ(Value(cursor), high);
}

TEST_F(DiagnosticsTest, NegativeCursorEndsTheWalk) {
    void* cursor = Cursor(0xFFFFFFFBu);  // -5 in the low half
    EXPECT_EQ(mono_image_get_classes(g_image, &cursor), nullptr);
    EXPECT_EQ(cursor, nullptr);
}

TEST_F(DiagnosticsTest, ImageWithOnlyTheModuleRowYieldsNothing) {
    MonoAssembly* assembly = MonoAPI::mono_domain_assembly_open_ptr(g_domain, EMPTY_ASSEMBLY_PATH);
    ASSERT_NE(assembly, nullptr);
    MonoImage* image = MonoAPI::mono_assembly_get_image_ptr(assembly);
    ASSERT_EQ(Rows(image), 1);
    void* cursor = nullptr;
    EXPECT_EQ(mono_image_get_classes(image, &cursor), nullptr);
    EXPECT_EQ(cursor, nullptr);
}

TEST_F(DiagnosticsTest, DumpClassesWritesOneRecordPerClassAndNoneForTheModule) {
    DumpClasses();
    EXPECT_EQ(Logged("Class: "), Rows(g_image) - 1);
    EXPECT_EQ(Logged("Class: FieldKinds\n"), 1);
    EXPECT_EQ(Logged("Class: SStringListEnumerator\n"), 1);
    EXPECT_EQ(Logged("Class: <Module>"), 0);
    // In TypeDef order: the record of row 2 comes first.
    const std::string first = std::string("Class: ") + MonoAPI::mono_class_get_name_ptr(Row(2)) + "\n";
    EXPECT_EQ(Log().find("Class: "), Log().find(first));
}

TEST_F(DiagnosticsTest, DumpClassMethodsAndFieldsListTheMembers) {
    DumpClassMethods(Class("SStringListEnumerator"));
    EXPECT_EQ(Logged("Method: GetEnumerator\n"), 1);
    EXPECT_EQ(Logged("Method: MoveNext\n"), 1);
    EXPECT_EQ(Logged("Method: Current\n"), 1);
    DumpClassFields(Class("FieldKinds"));
    EXPECT_EQ(Logged("Field: llBig\n"), 1);
    EXPECT_EQ(Logged("Field: nShared\n"), 1);
}

TEST_F(DiagnosticsTest, ClassWithoutMethodsDumpsNothing) {
    DumpClassMethods(Class("NoMethods"));
    DumpClassFields(Class("NoMethods"));
    EXPECT_EQ(Log(), "");
}

TEST_F(DiagnosticsTest, DumpMethodWritesNameCountAndSignatureInOneRecord) {
    MonoMethod* method = MonoAPI::mono_class_get_method_from_name_ptr(Class("FieldKinds"), "TwoParams", 2);
    ASSERT_NE(method, nullptr);
    DumpMethod(method);
    const std::string lines = Log();
    EXPECT_EQ(Logged("\n"), 1) << lines;
    EXPECT_NE(lines.find("Method: CloudSDKWrapper.FieldKinds:TwoParams (int,string)   2 params   int,string\n"),
              std::string::npos)
        << lines;
}

TEST_F(DiagnosticsTest, NotPortedIsOneErrorRecordNamedByTheFeature) {
    LogNotPorted("Shadow copy");
    EXPECT_EQ(Logged("ERROR"), 1);
    EXPECT_EQ(Logged("Shadow copy: Shadow copy is not ported to linux\n"), 1);
}

}  // namespace
}  // namespace marshaltest
