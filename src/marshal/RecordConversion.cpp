// One managed element to one native record and back. Fields are found by name on the
// element's own class.

#include "marshal/CloudSDKHelper.h"

#include "host/TextCrossing.h"
#include "marshal/FieldAccessInternal.h"
#include "marshal/ManagedObjectsInternal.h"
#include "marshal/RecordConversionInternal.h"
#include "platform/MonoAPI.h"

namespace cloudsdk::marshal {

bool RecordReader::Read(CloudSDKCppBridge::SString& out, MonoObject* element) {
    if (element == nullptr) {
        return false;
    }
    MonoClass* klass = MonoAPI::mono_object_get_class_ptr(element);
    return ReadStringField(klass, element, "strValue", out.strValue);
}

bool RecordReader::Read(CloudSDKCppBridge::SStorageAccountInfo& out, MonoObject* element) {
    if (element == nullptr) {
        return false;
    }
    MonoClass* klass = MonoAPI::mono_object_get_class_ptr(element);
    // Not short-circuited: a field that fails leaves only its own record field empty.
    const bool name = ReadStringField(klass, element, "strName", out.strName);
    const bool type = ReadStringField(klass, element, "strAccountType", out.strAccountType);
    bool hasLocation = true;
    const bool location = ReadOptionalStringField(klass, element, "strLocation", out.strLocation, hasLocation);
    if (!hasLocation && !m_missingLocationLogged) {
        g_debug.error("Could not find field [%s]", "strLocation");
        m_missingLocationLogged = true;
    }
    return name && type && location;
}

MonoObject* NewElement(MonoClass* elementClass, const CloudSDKCppBridge::SString& in, bool& textSet) {
    textSet = false;
    MonoObject* element = NewObjectOfClass(elementClass, /*runConstructor=*/true);
    if (element == nullptr) {
        return nullptr;
    }
    // An empty text becomes an empty managed string, never null.
    MonoString* text = cloudsdk::NewManagedText(in.strValue);
    if (text == nullptr) {
        g_debug.error("Could not create the text of a [%s] element", MonoAPI::mono_class_get_name_ptr(elementClass));
        return nullptr;
    }
    textSet = WriteField(elementClass, element, "strValue", text);
    return element;
}

}  // namespace cloudsdk::marshal

namespace CloudSDKCppBridgeHelper {

void CCloudSDKHelper::ConvertObject_ManagedToNative(SString& out, MonoObject*& element) {
    cloudsdk::marshal::RecordReader().Read(out, element);
}

void CCloudSDKHelper::ConvertObject_ManagedToNative(SStorageAccountInfo& out, MonoObject* element) {
    cloudsdk::marshal::RecordReader().Read(out, element);
}

void CCloudSDKHelper::ConvertObject_NativeToManaged(MonoObject*& element, const SString& in) {
    // The handle on entry only names the element class.
    MonoClass* elementClass = element != nullptr ? MonoAPI::mono_object_get_class_ptr(element) : nullptr;
    bool textSet = false;
    element = elementClass != nullptr ? cloudsdk::marshal::NewElement(elementClass, in, textSet) : nullptr;
}

}  // namespace CloudSDKCppBridgeHelper
