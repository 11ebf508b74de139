#pragma once

// Method lookup for the calls this layer makes with a fixed argument array.

#include "platform/MonoAPI.h"

#include <cstdint>

namespace cloudsdk::marshal {

enum class Binding { Static, Instance };

// The method `name` of `klass` (any parameter count, as the wrapper contract has one
// method per name), or null unless it takes exactly `paramCount` parameters and is static
// or not as `binding` says: the runtime reads as many arguments as the method declares,
// whatever the array holds, and runs an instance method on whatever instance it is given.
inline MonoMethod* FindMethod(MonoClass* klass, const char* name, int paramCount, Binding binding) {
    constexpr uint32_t kMethodStatic = 0x10;  // METHOD_ATTRIBUTE_STATIC
    MonoMethod* method = MonoAPI::mono_class_get_method_from_name_ptr(klass, name, -1);
    if (method == nullptr) {
        return nullptr;
    }
    MonoMethodSignature* signature = MonoAPI::mono_method_signature_ptr(method);
    if (signature == nullptr ||
        MonoAPI::mono_signature_get_param_count_ptr(signature) != static_cast<uint32_t>(paramCount)) {
        return nullptr;
    }
    uint32_t implementationFlags = 0;
    const bool isStatic = (MonoAPI::mono_method_get_flags_ptr(method, &implementationFlags) & kMethodStatic) != 0;
    return isStatic == (binding == Binding::Static) ? method : nullptr;
}

}  // namespace cloudsdk::marshal
