#pragma once

// Conversion of records and lists between native vectors and managed lists. Every managed
// list is made, walked and filled through classes of the wrapper assembly found by name in
// namespace "CloudSDKWrapper": the factory "CCloudWrapperFactory", the enumerator classes
// and the element classes. Nothing is cached between calls.
//
// REQUIRES: the runtime up and the calling thread attached.

#include <CloudSDKCppBridge.h>

#include <vector>

namespace CloudSDKCppBridgeHelper {

using CloudSDKCppBridge::SStorageAccountInfo;
using CloudSDKCppBridge::SString;

class CCloudSDKHelper {
public:
    CCloudSDKHelper() = delete;

    // A new, empty managed list of the given kind ("SStringLibHandle" calls the factory's
    // CreateSStringLibList), or null.
    static MonoObject* CreateList(const char* kind);

    // The managed-to-native conversions replace `out` with one record per element, in
    // enumeration order, and return true when the whole list was read (a null list reads
    // as empty). An account element without "strLocation" gives a record with an empty
    // location (logged once per list) and the walk goes on. Otherwise, when the walk
    // could not start, ended early or an element's field could not be read, they return
    // false with `out` empty: never a part of the list, never what it held before. The
    // reason is logged.
    static bool ConvertStorageAccountInfoList_ManagedToNative(std::vector<SStorageAccountInfo>& out,
                                                              MonoObject* list);
    static bool ConvertStringList_ManagedToNative(std::vector<SString>& out, MonoObject* list);

    // Sets `list` to a new managed list holding one new "SStringLib" per record of `in`.
    // Returns true when the list was made and every element added with its text; `list`
    // may be null (creation failed) or partial when it returns false.
    static bool ConvertStringList_NativeToManaged(MonoObject*& list, const std::vector<SString>& in);

    static void ConvertObject_ManagedToNative(SString& out, MonoObject*& element);
    static void ConvertObject_ManagedToNative(SStorageAccountInfo& out, MonoObject* element);
    // Replaces `element` (whose object's class names the element class) with a new
    // element carrying `in`; null when it could not be made.
    static void ConvertObject_NativeToManaged(MonoObject*& element, const SString& in);

    template <class Record, class ListHandle, class ElementHandle>
    static bool ConvertList_ManagedToNative(std::vector<Record>& out, ListHandle list, ElementHandle elementTag,
                                            const char* enumeratorClassName);
    template <class ListHandle, class Record, class ElementHandle>
    static bool ConvertList_NativeToManaged(ListHandle list, const std::vector<Record>& in, ElementHandle elementTag,
                                            const char* elementClassName);
};

}  // namespace CloudSDKCppBridgeHelper
