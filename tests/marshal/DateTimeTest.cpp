// Managed date-times as seconds since 1970, read through GetDateTimeFieldValue.

#include "MarshalTest.h"

#include <cstdint>

namespace marshaltest {
namespace {

constexpr int64_t kTicksAt1970 = 621355968000000000;
constexpr int64_t kTicksPerSecond = 10000000;

class DateTimeTest : public FieldKindsTest {
protected:
    time_t SecondsAt(int64_t ticks) {
        void* args[] = {object, &ticks};
        Static("FieldKinds", "SetTicks", args, 2);
        return GetDateTimeFieldValue(klass, object, "dtWhen");
    }
};

TEST_F(DateTimeTest, SecondsAreTruncatedNotRounded) {
    EXPECT_EQ(SecondsAt(kTicksAt1970), 0);
    EXPECT_EQ(SecondsAt(kTicksAt1970 + 1), 0);
    EXPECT_EQ(SecondsAt(kTicksAt1970 + kTicksPerSecond - 1), 0);
    EXPECT_EQ(SecondsAt(kTicksAt1970 + kTicksPerSecond), 1);
    EXPECT_EQ(GetDateTimeFieldValue(klass, object, "dtWhen"), 1);
}

TEST_F(DateTimeTest, TheConstructedValueAndTheLatestDateTime) {
    EXPECT_EQ(GetDateTimeFieldValue(klass, object, "dtWhen"), 86400);
    // 9999-12-31 23:59:59.9999999, DateTime.MaxValue.
    EXPECT_EQ(SecondsAt(3155378975999999999), 253402300799);
}

TEST_F(DateTimeTest, BeforeNineteenSeventyIsNegativeSeconds) {
    // The managed minimum, also what NewManagedDateTime makes: 0001-01-01.
    EXPECT_EQ(SecondsAt(0), -62135596800);
    // A part of a second before 1970 belongs to 1969-12-31 23:59:59.
    EXPECT_EQ(SecondsAt(kTicksAt1970 - 1), -1);
    EXPECT_EQ(SecondsAt(kTicksAt1970 - kTicksPerSecond), -1);
    EXPECT_EQ(SecondsAt(kTicksAt1970 - kTicksPerSecond - 1), -2);
}

TEST_F(DateTimeTest, FieldThatIsNoDateTimeGivesZero) {
    // A string has no "Ticks" at all.
    EXPECT_EQ(GetDateTimeFieldValue(klass, object, "strText"), 0);
    EXPECT_EQ(Logged("Value of class [String] is not a datetime"), 1);
    // Null object value: silent.
    EXPECT_EQ(GetDateTimeFieldValue(klass, object, "strNull"), 0);
    EXPECT_EQ(Logged("ERROR"), 1);
}

TEST_F(DateTimeTest, ReferenceWithATicksPropertyIsNotTakenForADateTime) {
    MonoObject* lookalike = NewManagedObjectAzure("TicksLookalike", true);
    ASSERT_NE(lookalike, nullptr);
    EXPECT_EQ(GetDateTimeFieldValue(MonoAPI::mono_object_get_class_ptr(lookalike), lookalike, "dtWhen"), 0);
    EXPECT_EQ(Logged("Value of class [TicksHolder] is not a datetime"), 1);
}

}  // namespace
}  // namespace marshaltest
