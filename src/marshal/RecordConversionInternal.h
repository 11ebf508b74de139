#pragma once

// Single-record conversions that report whether the record was carried whole, for the
// list conversions; CCloudSDKHelper's ConvertObject_* members are these without the report.
//
// REQUIRES: the runtime up and the calling thread attached.

#include <CloudSDKCppBridge.h>

namespace cloudsdk::marshal {

// Replaces `out` with the texts of `element`'s fields. Every field is read even if one is
// missing (it stays empty); false when any was missing or unreadable (logged).
bool ReadRecord(CloudSDKCppBridge::SString& out, MonoObject* element);
bool ReadRecord(CloudSDKCppBridge::SStorageAccountInfo& out, MonoObject* element);

// A new object of `elementClass` with its constructor run and "strValue" set to a new
// managed string holding `in`, or null (logged). `textSet` tells whether the text field
// was there to set; the element is returned either way.
MonoObject* NewElement(MonoClass* elementClass, const CloudSDKCppBridge::SString& in, bool& textSet);

}  // namespace cloudsdk::marshal
