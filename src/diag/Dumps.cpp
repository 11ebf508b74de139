// Managed metadata written to the log through g_debug's debug records.

#include <CloudSDKCppBridge.h>

#include "host/MonoText.h"
#include "host/RuntimeEntry.h"
#include "platform/MonoAPI.h"

void DumpClasses() {
    if (!cloudsdk::EnterRuntime()) {
        return;  // the runtime is not up: there is no assembly to list
    }
    void* cursor = nullptr;
    while (MonoClass* klass = mono_image_get_classes(g_image, &cursor)) {
        g_debug.debug("Class: %s\n", MonoAPI::mono_class_get_name_ptr(klass));
    }
}

void DumpClassMethods(MonoClass* klass) {
    if (klass == nullptr || !cloudsdk::EnterRuntime()) {
        return;
    }
    void* cursor = nullptr;
    while (MonoMethod* method = MonoAPI::mono_class_get_methods_ptr(klass, &cursor)) {
        g_debug.debug("Method: %s\n", MonoAPI::mono_method_get_name_ptr(method));
    }
}

void DumpClassFields(MonoClass* klass) {
    if (klass == nullptr || !cloudsdk::EnterRuntime()) {
        return;
    }
    void* cursor = nullptr;
    while (MonoClassField* field = MonoAPI::mono_class_get_fields_ptr(klass, &cursor)) {
        g_debug.debug("Field: %s\n", MonoAPI::mono_field_get_name_ptr(field));
    }
}

void DumpMethod(MonoMethod* method) {
    if (method == nullptr || !cloudsdk::EnterRuntime()) {
        return;
    }
    MonoMethodSignature* signature = MonoAPI::mono_method_signature_ptr(method);
    // Both texts are the runtime's allocations, released once written.
    const cloudsdk::MonoText description(
        signature != nullptr ? MonoAPI::mono_signature_get_desc_ptr(signature, /*include_namespace=*/true) : nullptr);
    const int params =
        signature != nullptr ? static_cast<int>(MonoAPI::mono_signature_get_param_count_ptr(signature)) : 0;
    const cloudsdk::MonoText fullName(MonoAPI::mono_method_full_name_ptr(method, /*signature=*/true));
    g_debug.debug("Method: %s   %d params   %s", fullName ? fullName.get() : "", params,
                  description ? description.get() : "");
}
