// Creation of managed objects, date-times and byte arrays for native callers.

#include <CloudSDKCppBridge.h>

#include "host/ManagedInvoke.h"
#include "host/RuntimeEntry.h"
#include "marshal/ManagedObjectsInternal.h"
#include "platform/MonoAPI.h"

#include <cstdint>

namespace cloudsdk::marshal {

namespace {

bool ConstructObject(MonoClass* klass, MonoObject* object) {
    const char* className = MonoAPI::mono_class_get_name_ptr(klass);
    const std::optional<InvokeResult> constructed = RunDefaultConstructor(klass, object);
    if (!constructed) {
        g_debug.error("Could not find default constructor of class [%s] in %s", className, kWrapperNamespace);
        return false;
    }
    ResultOrLogged(*constructed, "Constructor of class [%s] in %s", className, kWrapperNamespace);
    return constructed->ran && constructed->exception == nullptr;
}

}  // namespace

MonoClass* FindWrapperClass(const char* name) {
    // The runtime's lookup does not take a null name.
    MonoClass* klass = name != nullptr ? MonoAPI::mono_class_from_name_ptr(g_image, kWrapperNamespace, name) : nullptr;
    if (klass == nullptr) {
        g_debug.error("Could not find class [%s] in %s", name != nullptr ? name : "", kWrapperNamespace);
    }
    return klass;
}

MonoObject* NewObjectOfClass(MonoClass* klass, bool runConstructor) {
    MonoObject* object = MonoAPI::mono_object_new_ptr(g_domain, klass);
    if (object == nullptr) {
        g_debug.error("Could not create object of class [%s] in %s", MonoAPI::mono_class_get_name_ptr(klass),
                      kWrapperNamespace);
        return nullptr;
    }
    if (runConstructor && !ConstructObject(klass, object)) {
        return nullptr;
    }
    return object;
}

}  // namespace cloudsdk::marshal

MonoObject* NewManagedObjectAzure(const char* className, bool runConstructor) {
    if (!cloudsdk::EnterRuntime()) {
        return nullptr;
    }
    MonoClass* klass = cloudsdk::marshal::FindWrapperClass(className);
    return klass != nullptr ? cloudsdk::marshal::NewObjectOfClass(klass, runConstructor) : nullptr;
}

MonoObject* NewManagedDateTime() {
    if (!cloudsdk::EnterRuntime()) {
        return nullptr;
    }
    MonoClass* klass = MonoAPI::mono_class_from_name_ptr(MonoAPI::mono_get_corlib_ptr(), "System", "DateTime");
    if (klass == nullptr) {
        g_debug.error("Could not get datetime class");
        return nullptr;
    }
    // No constructor: the boxed value is all zero bytes, the managed minimum date-time.
    MonoObject* object = MonoAPI::mono_object_new_ptr(g_domain, klass);
    if (object == nullptr) {
        g_debug.error("Could not create datetime object");
    }
    return object;
}

MonoArray* NewManagedArray(const char* className, int length) {
    if (!cloudsdk::EnterRuntime()) {
        return nullptr;
    }
    // The runtime widens a negative length to a huge size and fails silently (or tries to
    // allocate it); refuse it here. The class name only names the failure: the elements
    // are always bytes.
    MonoArray* array = length < 0 ? nullptr
                                  : MonoAPI::mono_array_new_ptr(g_domain, MonoAPI::mono_get_byte_class_ptr(),
                                                                static_cast<uintptr_t>(length));
    if (array == nullptr) {
        g_debug.error("Could not create array of class [%s]", className);
    }
    return array;
}
