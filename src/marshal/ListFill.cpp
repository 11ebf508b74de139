// Native vectors to managed lists: a list made by the factory, filled through its own
// "Add" with one new element per record.

#include "marshal/CloudSDKHelper.h"

#include "host/ManagedInvoke.h"
#include "marshal/ManagedObjectsInternal.h"
#include "marshal/RecordConversionInternal.h"
#include "platform/MonoAPI.h"

namespace {

cloudsdk::FittedMethod FindAdd(MonoObject* list) {
    MonoClass* listClass = MonoAPI::mono_object_get_class_ptr(list);
    cloudsdk::FittedMethod add = cloudsdk::FindFittingMethod(listClass, "Add", cloudsdk::Binding::Instance,
                                                  cloudsdk::Arguments(static_cast<MonoObject*>(nullptr)));
    if (!add) {
        g_debug.error("Failed to get add method for class [%s]", MonoAPI::mono_class_get_name_ptr(listClass));
        DumpClassMethods(listClass);
    }
    return add;
}

bool AddElement(const cloudsdk::FittedMethod& add, MonoObject* list, MonoObject* element) {
    const cloudsdk::InvokeResult added = cloudsdk::InvokeFitted(add, list, cloudsdk::Arguments(element));
    cloudsdk::ResultOrLogged(added, "Add method of class [%s]",
                             MonoAPI::mono_class_get_name_ptr(MonoAPI::mono_object_get_class_ptr(list)));
    return added.ran && added.exception == nullptr;
}

}  // namespace

namespace CloudSDKCppBridgeHelper {

// The element class is looked up once per fill and handed to each record's conversion
// directly, rather than through a throw-away object of that class per record. The fill
// stops at the first element that cannot be made or added: the list is then partial and
// the caller is told so.
template <class ListHandle, class Record, class ElementHandle>
bool CCloudSDKHelper::ConvertList_NativeToManaged(ListHandle list, const std::vector<Record>& in, ElementHandle,
                                                  const char* elementClassName) {
    if (list == nullptr) {
        return false;  // the list was not made; CreateList has said why
    }
    const cloudsdk::FittedMethod add = FindAdd(list);
    if (!add) {
        return false;
    }
    if (in.empty()) {
        return true;
    }
    MonoClass* elementClass = cloudsdk::marshal::FindWrapperClass(elementClassName);
    if (elementClass == nullptr) {
        return false;
    }
    bool whole = true;
    for (const Record& record : in) {
        bool textSet = false;
        MonoObject* element = cloudsdk::marshal::NewElement(elementClass, record, textSet);
        if (element == nullptr || !AddElement(add, list, element)) {
            return false;
        }
        whole = textSet && whole;
    }
    return whole;
}

template bool CCloudSDKHelper::ConvertList_NativeToManaged<MonoObject*, SString, MonoObject*>(
    MonoObject*, const std::vector<SString>&, MonoObject*, const char*);

bool CCloudSDKHelper::ConvertStringList_NativeToManaged(MonoObject*& list, const std::vector<SString>& in) {
    list = CreateList("SStringLibHandle");
    return ConvertList_NativeToManaged(list, in, static_cast<MonoObject*>(nullptr), "SStringLib");
}

}  // namespace CloudSDKCppBridgeHelper
