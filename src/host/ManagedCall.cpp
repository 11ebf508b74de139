#include "host/ManagedCall.h"

#include <CloudSDKCppBridge.h>

#include "platform/MonoAPI.h"

#include <cstdint>

namespace cloudsdk {

namespace {

// A plain integer, so that thread exit has nothing to destroy.
thread_local uint32_t t_thrownExceptionHandle = 0;

}  // namespace

MonoObject* InvokeManaged(MonoMethod* method, void* instance, void** args, MonoObject*& exception) {
    exception = nullptr;
    MonoObject* result = MonoAPI::mono_runtime_invoke_ptr(method, instance, args, &exception);
    return exception != nullptr ? nullptr : result;
}

MonoObject* InvokeManagedLogged(MonoMethod* method, void* instance, void** args, const char* what) {
    MonoObject* exception = nullptr;
    MonoObject* result = InvokeManaged(method, instance, args, exception);
    if (exception != nullptr) {
        g_debug.error("%s raised %s", what, ExceptionClassName(exception));
    }
    return result;
}

bool RunDefaultConstructor(MonoClass* klass, MonoObject* object, MonoObject*& exception) {
    exception = nullptr;
    MonoMethod* constructor = MonoAPI::mono_class_get_method_from_name_ptr(klass, ".ctor", 0);
    if (constructor == nullptr) {
        return false;
    }
    InvokeManaged(constructor, object, nullptr, exception);
    return exception == nullptr;
}

const char* ExceptionClassName(MonoObject* exception) {
    if (exception == nullptr) {
        return "";
    }
    MonoClass* klass = MonoAPI::mono_object_get_class_ptr(exception);
    return klass != nullptr ? MonoAPI::mono_class_get_name_ptr(klass) : "";
}

void HoldThrownException(MonoObject* exception) {
    ReleaseThrownException();
    t_thrownExceptionHandle = MonoAPI::mono_gchandle_new_ptr(exception, /*pinned=*/true);
}

void ReleaseThrownException() {
    if (t_thrownExceptionHandle != 0) {
        MonoAPI::mono_gchandle_free_ptr(t_thrownExceptionHandle);
        t_thrownExceptionHandle = 0;
    }
}

}  // namespace cloudsdk
