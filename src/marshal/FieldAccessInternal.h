#pragma once

// Field access that tells its caller whether the field was there to read or write. The
// exported getters and SetFieldValue answer only with a value, in which a missing field
// and an empty one look alike; the record conversions need to tell them apart.
//
// REQUIRES: the runtime up and the calling thread attached.

#include <CloudSDKCppBridge/MonoTypes.h>

#include <string>

namespace cloudsdk::marshal {

// Replaces `out` with the text of the string field `fieldName` ("" when it holds null).
// False, logged, when the field is missing, static, not a reference or holds no string.
bool ReadStringField(MonoClass* klass, MonoObject* object, const char* fieldName, std::string& out);

// ReadStringField for a field that a class may lack: a missing field reads as empty, is
// not logged, and sets `present` to false.
bool ReadOptionalStringField(MonoClass* klass, MonoObject* object, const char* fieldName, std::string& out,
                             bool& present);

// Writes `value` (a managed reference, or the address of a native value of the field's
// size) into the field. False, logged, when the field is missing or static, or when it
// is of reference type and `value` is an object of another class.
bool WriteField(MonoClass* klass, MonoObject* object, const char* fieldName, void* value);

// True when `object` is of `klass` or of a class derived from it. A field looked up on any
// other class has an offset that means nothing in this object: the runtime would read or
// write at it all the same, past the object's end into its neighbours on the managed heap.
bool BelongsTo(MonoObject* object, MonoClass* klass);

}  // namespace cloudsdk::marshal
