// Managed lists are made by the wrapper assembly's factory, one static method per kind.

#include "marshal/CloudSDKHelper.h"

#include "host/ManagedInvoke.h"
#include "marshal/ManagedObjectsInternal.h"
#include "platform/FXString.h"
#include "platform/MonoAPI.h"

#include <string>

namespace CloudSDKCppBridgeHelper {

namespace {

// "SStringLibHandle" -> "CreateSStringLibList": the kind names a native handle type; the
// factory method is named after the managed list without it.
std::string FactoryMethodName(const char* kind) {
    std::string name = kind;
    FXString::ReplaceAll(name, "Handle", "", 0);
    return "Create" + name + "List";
}

}  // namespace

MonoObject* CCloudSDKHelper::CreateList(const char* kind) {
    MonoClass* factory =
        MonoAPI::mono_class_from_name_ptr(g_image, cloudsdk::marshal::kWrapperNamespace, "CCloudWrapperFactory");
    if (factory == nullptr) {
        g_debug.error("Failed to get list factory class [%s]", kind);
        return nullptr;
    }
    const std::string methodName = FactoryMethodName(kind);
    const cloudsdk::FittedMethod create =
        cloudsdk::FindFittingMethod(factory, methodName.c_str(), cloudsdk::Binding::Static, cloudsdk::kNoArguments);
    if (!create) {
        g_debug.error("Failed to get create list method [%s]", methodName.c_str());
        return nullptr;
    }
    const cloudsdk::InvokeResult made = cloudsdk::InvokeFitted(create, nullptr, cloudsdk::kNoArguments);
    MonoObject* list = cloudsdk::ResultOrLogged(made, "Create list method [%s]", methodName.c_str());
    if (list == nullptr && made.exception == nullptr) {
        g_debug.error("Failed to invoke create list method [%s]", methodName.c_str());
    }
    return list;
}

}  // namespace CloudSDKCppBridgeHelper
