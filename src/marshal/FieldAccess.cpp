// Reading and writing fields of managed objects by name.
//
// mono_field_get_value writes the field's full stored size into the caller's buffer, so
// each getter first checks that the field is an instance field whose size is exactly the
// width of its slot; a mismatch would otherwise write past the slot on our stack.

#include <CloudSDKCppBridge.h>

#include "host/ManagedInvoke.h"
#include "host/RuntimeEntry.h"
#include "host/TextCrossing.h"
#include "marshal/FieldAccessInternal.h"
#include "platform/MonoAPI.h"

#include <cstdint>

namespace cloudsdk::marshal {

namespace {

// mono_field_get_flags: FIELD_ATTRIBUTE_STATIC. Static (and const) fields have no
// storage in the object.
constexpr uint32_t kFieldStatic = 0x10;

// What a getter's slot can hold.
enum class Slot { Reference, Bytes1, Bytes4, Bytes8 };

const char* Describe(Slot slot) {
    switch (slot) {
        case Slot::Reference: return "a reference";
        case Slot::Bytes1: return "a 1-byte value";
        case Slot::Bytes4: return "a 4-byte value";
        case Slot::Bytes8: return "an 8-byte value";
    }
    return "?";
}

int Width(Slot slot) {
    switch (slot) {
        case Slot::Bytes1: return 1;
        case Slot::Bytes4: return 4;
        default: return 8;
    }
}

// Null when there is no class or name to look in: the runtime's lookup takes neither.
MonoClassField* LookUpField(MonoClass* klass, const char* fieldName) {
    return klass != nullptr && fieldName != nullptr ? MonoAPI::mono_class_get_field_from_name_ptr(klass, fieldName)
                                                    : nullptr;
}

MonoClassField* FindField(MonoClass* klass, const char* fieldName) {
    MonoClassField* field = LookUpField(klass, fieldName);
    if (field == nullptr) {
        g_debug.error("Could not find field [%s]", fieldName != nullptr ? fieldName : "");
    }
    return field;
}

bool IsStatic(MonoClassField* field) { return (MonoAPI::mono_field_get_flags_ptr(field) & kFieldStatic) != 0; }

bool Fits(MonoClassField* field, Slot slot) {
    MonoType* type = MonoAPI::mono_field_get_type_ptr(field);
    const bool reference = MonoAPI::mono_type_is_reference_ptr(type) != 0;
    if (slot == Slot::Reference) {
        return reference;
    }
    int alignment = 0;
    return !reference && MonoAPI::mono_type_size_ptr(type, &alignment) == Width(slot);
}

// The field `fieldName` of `object` if it can be read into `slot`; null, logged, if the
// field is missing, static or of another width, or there is no object to read from.
MonoClassField* FindReadableField(MonoClass* klass, MonoObject* object, const char* fieldName, Slot slot) {
    MonoClassField* field = FindField(klass, fieldName);
    if (field == nullptr) {
        return nullptr;
    }
    if (object == nullptr) {
        g_debug.error("Could not read field [%s] of a null object", fieldName);
        return nullptr;
    }
    if (!BelongsTo(object, klass)) {
        g_debug.error("Could not read field [%s] of an object of another class", fieldName);
        return nullptr;
    }
    if (IsStatic(field) || !Fits(field, slot)) {
        g_debug.error("Field [%s] is not an instance field holding %s", fieldName, Describe(slot));
        return nullptr;
    }
    return field;
}

template <class Value>
Value ReadField(MonoClass* klass, MonoObject* object, const char* fieldName, Slot slot) {
    static_assert(sizeof(Value) == 1 || sizeof(Value) == 4 || sizeof(Value) == 8);
    Value value{};
    if (MonoClassField* field = FindReadableField(klass, object, fieldName, slot)) {
        MonoAPI::mono_field_get_value_ptr(object, field, &value);
    }
    return value;
}

// A managed string, or null when `value` is null or another kind of object, which the
// string functions would otherwise read as a string.
MonoString* AsString(void* value, const char* fieldName) {
    if (value == nullptr) {
        return nullptr;
    }
    auto* object = static_cast<MonoObject*>(value);
    if (MonoAPI::mono_object_get_class_ptr(object) != MonoAPI::mono_get_string_class_ptr()) {
        g_debug.error("Field [%s] does not hold a string", fieldName);
        return nullptr;
    }
    return static_cast<MonoString*>(value);
}

// A field of reference type takes null or an object of its type; the runtime would store
// any pointer there, and managed code would then use the object as one of the field's
// type. A field of value type takes the address of a native value, which says nothing of
// its width: that the caller passes the field's width is its promise.
bool TakesValue(MonoClassField* field, void* value) {
    MonoType* type = MonoAPI::mono_field_get_type_ptr(field);
    if (MonoAPI::mono_type_is_reference_ptr(type) == 0 || value == nullptr) {
        return true;
    }
    MonoClass* fieldClass = MonoAPI::mono_class_from_mono_type_ptr(type);
    return fieldClass != nullptr && cloudsdk::IsInstanceOf(static_cast<MonoObject*>(value), fieldClass);
}

}  // namespace

bool BelongsTo(MonoObject* object, MonoClass* klass) { return cloudsdk::IsInstanceOf(object, klass); }

bool ReadStringField(MonoClass* klass, MonoObject* object, const char* fieldName, std::string& out) {
    out.clear();
    MonoClassField* field = FindReadableField(klass, object, fieldName, Slot::Reference);
    if (field == nullptr) {
        return false;
    }
    void* value = nullptr;
    MonoAPI::mono_field_get_value_ptr(object, field, &value);
    if (value == nullptr) {
        return true;
    }
    MonoString* text = AsString(value, fieldName);
    if (text == nullptr) {
        return false;
    }
    out = cloudsdk::NativeText(text);
    return true;
}

bool ReadOptionalStringField(MonoClass* klass, MonoObject* object, const char* fieldName, std::string& out,
                             bool& present) {
    out.clear();
    present = LookUpField(klass, fieldName) != nullptr;
    return !present || ReadStringField(klass, object, fieldName, out);
}

bool WriteField(MonoClass* klass, MonoObject* object, const char* fieldName, void* value) {
    MonoClassField* field = FindField(klass, fieldName);
    if (field == nullptr) {
        return false;
    }
    // A static field has no storage in the object; the runtime would write through the
    // object at the field's static offset.
    if (IsStatic(field)) {
        g_debug.error("Field [%s] is static and is not written", fieldName);
        return false;
    }
    if (object == nullptr) {
        g_debug.error("Could not write field [%s] of a null object", fieldName);
        return false;
    }
    if (!BelongsTo(object, klass)) {
        g_debug.error("Could not write field [%s] of an object of another class", fieldName);
        return false;
    }
    if (!TakesValue(field, value)) {
        g_debug.error("Field [%s] does not take an object of class [%s]", fieldName,
                      MonoAPI::mono_class_get_name_ptr(MonoAPI::mono_object_get_class_ptr(static_cast<MonoObject*>(value))));
        return false;
    }
    MonoAPI::mono_field_set_value_ptr(object, field, value);
    return true;
}

}  // namespace cloudsdk::marshal

using cloudsdk::marshal::AsString;
using cloudsdk::marshal::BelongsTo;
using cloudsdk::marshal::FindReadableField;
using cloudsdk::marshal::IsStatic;
using cloudsdk::marshal::LookUpField;
using cloudsdk::marshal::ReadField;
using cloudsdk::marshal::Slot;

void* GetFieldValue(MonoClass* klass, MonoObject* object, const char* fieldName) {
    if (!cloudsdk::EnterRuntime()) {
        return nullptr;
    }
    return ReadField<void*>(klass, object, fieldName, Slot::Reference);
}

std::string GetStringFieldValue(MonoClass* klass, MonoObject* object, const char* fieldName) {
    std::string text;
    if (!cloudsdk::EnterRuntime()) {
        return text;
    }
    cloudsdk::marshal::ReadStringField(klass, object, fieldName, text);
    return text;
}

bool GetBoolFieldValue(MonoClass* klass, MonoObject* object, const char* fieldName) {
    if (!cloudsdk::EnterRuntime()) {
        return false;
    }
    return ReadField<uint8_t>(klass, object, fieldName, Slot::Bytes1) != 0;
}

int GetIntFieldValue(MonoClass* klass, MonoObject* object, const char* fieldName) {
    if (!cloudsdk::EnterRuntime()) {
        return 0;
    }
    return ReadField<int32_t>(klass, object, fieldName, Slot::Bytes4);
}

long long GetLongFieldValue(MonoClass* klass, MonoObject* object, const char* fieldName) {
    if (!cloudsdk::EnterRuntime()) {
        return 0;
    }
    return ReadField<int64_t>(klass, object, fieldName, Slot::Bytes8);
}

MonoObject* GetStructFieldValue(MonoClass* klass, MonoObject* object, const char* fieldName) {
    if (!cloudsdk::EnterRuntime()) {
        return nullptr;
    }
    // Silent by design: a missing field or value is an ordinary answer for this getter.
    MonoClassField* field = LookUpField(klass, fieldName);
    if (field == nullptr || (!IsStatic(field) && (object == nullptr || !BelongsTo(object, klass)))) {
        return nullptr;
    }
    return MonoAPI::mono_field_get_value_object_ptr(g_domain, field, object);
}

bool IsStringFieldEmpty(MonoObject* object, const char* fieldName) {
    if (!cloudsdk::EnterRuntime()) {
        return true;
    }
    MonoClass* klass = object != nullptr ? MonoAPI::mono_object_get_class_ptr(object) : nullptr;
    if (klass == nullptr) {
        return true;
    }
    MonoString* text = AsString(ReadField<void*>(klass, object, fieldName, Slot::Reference), fieldName);
    return text == nullptr || MonoAPI::mono_string_length_ptr(text) == 0;
}

void SetFieldValue(MonoClass* klass, MonoObject* object, const char* fieldName, void* value) {
    if (!cloudsdk::EnterRuntime()) {
        return;
    }
    cloudsdk::marshal::WriteField(klass, object, fieldName, value);
}
