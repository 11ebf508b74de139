#pragma once

// Single-record conversions that report whether the record was carried whole, for the
// list conversions; CCloudSDKHelper's ConvertObject_* members are these without the report.
//
// REQUIRES: the runtime up and the calling thread attached.

#include <CloudSDKCppBridge.h>

namespace cloudsdk::marshal {

// Reads the elements of one list, one record each. Replaces `out` with the texts of
// `element`'s fields; every field is read even if one fails (it stays empty). False when a
// field the record cannot do without is missing or unreadable (logged). An account's
// location is optional: an element class without "strLocation" gives an empty location,
// logged as a missing field once per reader, that is once per list.
class RecordReader {
public:
    bool Read(CloudSDKCppBridge::SString& out, MonoObject* element);
    bool Read(CloudSDKCppBridge::SStorageAccountInfo& out, MonoObject* element);

private:
    bool m_missingLocationLogged = false;
};

// A new object of `elementClass` with its constructor run and "strValue" set to a new
// managed string holding `in`, or null (logged). `textSet` tells whether the text field
// was there to set; the element is returned either way.
MonoObject* NewElement(MonoClass* elementClass, const CloudSDKCppBridge::SString& in, bool& textSet);

}  // namespace cloudsdk::marshal
