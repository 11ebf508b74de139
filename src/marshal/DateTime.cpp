// Managed System.DateTime values as seconds since 1970-01-01 00:00:00.

#include <CloudSDKCppBridge.h>

#include "host/ManagedInvoke.h"
#include "host/RuntimeEntry.h"
#include "marshal/FieldAccessInternal.h"
#include "platform/MonoAPI.h"

#include <cstdint>

namespace {

// A managed date-time counts ticks of 100 ns since 0001-01-01 00:00:00.
constexpr int64_t kTicksAt1970 = 621355968000000000;
constexpr int64_t kTicksPerSecond = 10000000;

// Signed, rounding towards the earlier second, so that a date-time before 1970 gives the
// time_t of the second it falls in (-1 for 1969-12-31 23:59:59.5), as after 1970.
time_t TicksToTimeT(int64_t ticks) {
    const int64_t sinceEpoch = ticks - kTicksAt1970;
    int64_t seconds = sinceEpoch / kTicksPerSecond;
    if (sinceEpoch % kTicksPerSecond < 0) {
        --seconds;
    }
    return static_cast<time_t>(seconds);
}

MonoClass* DateTimeClass() {
    return MonoAPI::mono_class_from_name_ptr(MonoAPI::mono_get_corlib_ptr(), "System", "DateTime");
}

// The tick count through the "Ticks" getter, invoked with an exception slot: the runtime's
// property reader has none, and an exception there would end the host process.
time_t DateTimeToTimeT(MonoObject* dateTime) {
    MonoClass* klass = MonoAPI::mono_object_get_class_ptr(dateTime);
    if (klass == nullptr) {
        g_debug.error("Could not get datetime class");
        return 0;
    }
    // Anything else would have its "Ticks" getter run on a value it does not own: the
    // address of a box's contents is only a valid instance for a value type.
    if (klass != DateTimeClass()) {
        g_debug.error("Value of class [%s] is not a datetime", MonoAPI::mono_class_get_name_ptr(klass));
        return 0;
    }
    MonoProperty* property = MonoAPI::mono_class_get_property_from_name_ptr(klass, "Ticks");
    MonoMethod* getter = property != nullptr ? MonoAPI::mono_property_get_get_method_ptr(property) : nullptr;
    if (getter == nullptr) {
        g_debug.error("Could not get datetime Ticks property");
        return 0;
    }
    const cloudsdk::InvokeResult read = cloudsdk::InvokeChecked(getter, dateTime, cloudsdk::kNoArguments);
    MonoObject* ticks = cloudsdk::ResultOrLogged(read, "datetime Ticks getter");
    if (!read.ran || read.exception != nullptr) {
        return 0;
    }
    if (ticks == nullptr) {
        g_debug.error("Could not get datetime ticks property value");
        return 0;
    }
    return TicksToTimeT(*static_cast<const int64_t*>(MonoAPI::mono_object_unbox_ptr(ticks)));
}

}  // namespace

time_t GetDateTimeFieldValue(MonoClass* klass, MonoObject* object, const char* fieldName) {
    if (!cloudsdk::EnterRuntime()) {
        return 0;
    }
    // Silent on a missing field or value, unlike the other getters.
    MonoClassField* field = klass != nullptr && fieldName != nullptr
                                ? MonoAPI::mono_class_get_field_from_name_ptr(klass, fieldName)
                                : nullptr;
    if (field == nullptr || object == nullptr || !cloudsdk::marshal::BelongsTo(object, klass)) {
        return 0;
    }
    MonoObject* boxed = MonoAPI::mono_field_get_value_object_ptr(g_domain, field, object);
    return boxed != nullptr ? DateTimeToTimeT(boxed) : 0;
}
