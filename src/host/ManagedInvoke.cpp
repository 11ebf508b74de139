#include "host/ManagedInvoke.h"

#include <CloudSDKCppBridge.h>

#include "platform/LogSink.h"
#include "platform/MonoAPI.h"

#include <cstdarg>
#include <cstdint>
#include <string>

namespace cloudsdk {

namespace {

constexpr uint32_t kMethodStatic = 0x10;  // METHOD_ATTRIBUTE_STATIC

bool IsStatic(MonoMethod* method) {
    uint32_t implementationFlags = 0;
    return (MonoAPI::mono_method_get_flags_ptr(method, &implementationFlags) & kMethodStatic) != 0;
}

bool Matches(MonoType* type, ParameterShape shape) {
    if ((MonoAPI::mono_type_is_byref_ptr(type) != 0) != shape.byRef) {
        return false;
    }
    const int found = MonoAPI::mono_type_get_type_ptr(type);
    switch (shape.kind) {
        case ManagedKind::Boolean: return found == MONO_TYPE_BOOLEAN;
        case ManagedKind::Int32: return found == MONO_TYPE_I4;
        case ManagedKind::UInt32: return found == MONO_TYPE_U4;
        case ManagedKind::Int64: return found == MONO_TYPE_I8;
        case ManagedKind::UInt64: return found == MONO_TYPE_U8;
        case ManagedKind::String: return found == MONO_TYPE_STRING;
        // Which class the object must be of is checked against the object itself.
        case ManagedKind::Object: return MonoAPI::mono_type_is_reference_ptr(type) != 0;
    }
    return false;
}

const char* KindName(ManagedKind kind) {
    switch (kind) {
        case ManagedKind::Boolean: return "bool";
        case ManagedKind::Int32: return "int";
        case ManagedKind::UInt32: return "uint";
        case ManagedKind::Int64: return "long";
        case ManagedKind::UInt64: return "ulong";
        case ManagedKind::String: return "string";
        case ManagedKind::Object: return "object";
    }
    return "?";
}

std::string TypeName(MonoType* type) {
    switch (MonoAPI::mono_type_get_type_ptr(type)) {
        case MONO_TYPE_BOOLEAN: return "bool";
        case MONO_TYPE_I4: return "int";
        case MONO_TYPE_U4: return "uint";
        case MONO_TYPE_I8: return "long";
        case MONO_TYPE_U8: return "ulong";
        case MONO_TYPE_STRING: return "string";
        case MONO_TYPE_OBJECT: return "object";
        default: {
            MonoClass* klass = MonoAPI::mono_class_from_mono_type_ptr(type);
            return klass != nullptr ? MonoAPI::mono_class_get_name_ptr(klass) : "?";
        }
    }
}

// "instance (int, ref long)", the form both sides of a mismatch are logged in.
std::string Describe(bool isStatic, const ArgumentList& args) {
    std::string text = isStatic ? "static (" : "instance (";
    for (uint32_t i = 0; i < args.count; ++i) {
        text += i > 0 ? ", " : "";
        text += args.shapes[i].byRef ? "ref " : "";
        text += KindName(args.shapes[i].kind);
    }
    return text + ")";
}

std::string Describe(MonoMethod* method, MonoMethodSignature* signature) {
    std::string text = IsStatic(method) ? "static (" : "instance (";
    void* cursor = nullptr;
    bool first = true;
    while (MonoType* type = MonoAPI::mono_signature_get_params_ptr(signature, &cursor)) {
        text += first ? "" : ", ";
        text += MonoAPI::mono_type_is_byref_ptr(type) != 0 ? "ref " : "";
        text += TypeName(type);
        first = false;
    }
    return text + ")";
}

const char* ClassNameOf(MonoMethod* method) {
    MonoClass* klass = MonoAPI::mono_method_get_class_ptr(method);
    return klass != nullptr ? MonoAPI::mono_class_get_name_ptr(klass) : "?";
}

// The object the method runs on: a value type's method takes the value inside its box.
bool InstanceFits(MonoMethod* method, MonoObject* instance, void*& self) {
    self = nullptr;
    if (IsStatic(method)) {
        return instance == nullptr;
    }
    MonoClass* klass = MonoAPI::mono_method_get_class_ptr(method);
    if (instance == nullptr || MonoAPI::mono_object_isinst_ptr(instance, klass) == nullptr) {
        g_debug.error("Managed method [%s.%s] is not run on %s", ClassNameOf(method),
                      MonoAPI::mono_method_get_name_ptr(method),
                      instance == nullptr ? "a null object" : "an object of another class");
        return false;
    }
    self = MonoAPI::mono_class_is_valuetype_ptr(klass) != 0 ? MonoAPI::mono_object_unbox_ptr(instance) : instance;
    return true;
}

enum class Fit { Yes, Shape, Value };

// Walks the declared parameters beside the argument slots: with `shapes` compares each
// declaration with the slot's shape, with `values` checks what by-value references hold
// (a text that could not be made, an object of another class than the parameter's).
Fit CheckParameters(MonoMethod* method, MonoMethodSignature* signature, const ArgumentList& args, bool shapes,
                    bool values) {
    void* cursor = nullptr;
    for (uint32_t i = 0; i < args.count; ++i) {
        MonoType* type = MonoAPI::mono_signature_get_params_ptr(signature, &cursor);
        const ParameterShape shape = args.shapes[i];
        if (type == nullptr || (shapes && !Matches(type, shape))) {
            return Fit::Shape;
        }
        if (!values || shape.byRef) {
            continue;
        }
        if (shape.kind == ManagedKind::String && args.slots[i] == nullptr) {
            g_debug.error("Managed method [%s.%s] is not run: text argument %u could not be made",
                          ClassNameOf(method), MonoAPI::mono_method_get_name_ptr(method), i + 1);
            return Fit::Value;
        }
        if (shape.kind == ManagedKind::Object && args.slots[i] != nullptr &&
            MonoAPI::mono_type_get_type_ptr(type) != MONO_TYPE_OBJECT) {
            auto* argument = static_cast<MonoObject*>(args.slots[i]);
            MonoClass* expected = MonoAPI::mono_class_from_mono_type_ptr(type);
            if (expected == nullptr || MonoAPI::mono_object_isinst_ptr(argument, expected) == nullptr) {
                g_debug.error("Managed method [%s.%s] is not run: argument %u is a [%s], not a [%s]",
                              ClassNameOf(method), MonoAPI::mono_method_get_name_ptr(method), i + 1,
                              MonoAPI::mono_class_get_name_ptr(MonoAPI::mono_object_get_class_ptr(argument)),
                              TypeName(type).c_str());
                return Fit::Value;
            }
        }
    }
    return Fit::Yes;
}

bool HasReferenceValues(const ArgumentList& args) {
    for (uint32_t i = 0; i < args.count; ++i) {
        const ParameterShape shape = args.shapes[i];
        if (!shape.byRef && (shape.kind == ManagedKind::String || shape.kind == ManagedKind::Object)) {
            return true;
        }
    }
    return false;
}

// Compares the binding, the count and, with `shapes`, each parameter; logs a mismatch.
Fit Check(MonoMethod* method, Binding binding, const ArgumentList& args, bool shapes, bool values) {
    MonoMethodSignature* signature = MonoAPI::mono_method_signature_ptr(method);
    Fit fit = Fit::Shape;
    if (signature != nullptr && (!shapes || (IsStatic(method) == (binding == Binding::Static) &&
                                             MonoAPI::mono_signature_get_param_count_ptr(signature) == args.count))) {
        fit = (shapes || (values && HasReferenceValues(args)))
                  ? CheckParameters(method, signature, args, shapes, values)
                  : Fit::Yes;
    }
    if (fit == Fit::Shape) {
        g_debug.error("Managed method [%s.%s] does not fit the call: expected %s, found %s", ClassNameOf(method),
                      MonoAPI::mono_method_get_name_ptr(method), Describe(binding == Binding::Static, args).c_str(),
                      signature != nullptr ? Describe(method, signature).c_str() : "no signature");
    }
    return fit;
}

InvokeResult Run(MonoMethod* method, void* self, const ArgumentList& args) {
    InvokeResult result;
    result.ran = true;
    result.value = MonoAPI::mono_runtime_invoke_ptr(method, self, args.slots, &result.exception);
    if (result.exception != nullptr) {
        result.value = nullptr;
    }
    return result;
}

Binding BindingOf(MonoObject* instance) { return instance == nullptr ? Binding::Static : Binding::Instance; }

}  // namespace

MonoMethod* FindMethod(MonoClass* klass, const char* name, int paramCount) {
    return klass != nullptr && name != nullptr ? MonoAPI::mono_class_get_method_from_name_ptr(klass, name, paramCount)
                                               : nullptr;
}

bool SignatureFits(MonoMethod* method, Binding binding, const ArgumentList& args) {
    return Check(method, binding, args, /*shapes=*/true, /*values=*/false) == Fit::Yes;
}

InvokeResult InvokeFitted(MonoMethod* method, MonoObject* instance, const ArgumentList& args) {
    void* self = nullptr;
    if (!InstanceFits(method, instance, self) ||
        Check(method, BindingOf(instance), args, /*shapes=*/false, /*values=*/true) != Fit::Yes) {
        return InvokeResult{};
    }
    return Run(method, self, args);
}

InvokeResult InvokeChecked(MonoMethod* method, MonoObject* instance, const ArgumentList& args) {
    void* self = nullptr;
    if (Check(method, BindingOf(instance), args, /*shapes=*/true, /*values=*/true) != Fit::Yes ||
        !InstanceFits(method, instance, self)) {
        return InvokeResult{};
    }
    return Run(method, self, args);
}

MonoObject* ResultOrLogged(const InvokeResult& result, const char* what, ...) {
    if (result.exception == nullptr) {
        return result.value;
    }
    va_list args;
    va_start(args, what);
    const std::string place = FormatMessage(what, args);
    va_end(args);
    g_debug.error("%s raised %s", place.c_str(), ExceptionClassName(result.exception));
    return nullptr;
}

bool RunDefaultConstructor(MonoClass* klass, MonoObject* object, MonoObject*& exception) {
    exception = nullptr;
    MonoMethod* constructor = FindMethod(klass, ".ctor", 0);
    if (constructor == nullptr) {
        return false;
    }
    const InvokeResult result = InvokeChecked(constructor, object, kNoArguments);
    exception = result.exception;
    return result.ran && exception == nullptr;
}

const char* ExceptionClassName(MonoObject* exception) {
    if (exception == nullptr) {
        return "";
    }
    MonoClass* klass = MonoAPI::mono_object_get_class_ptr(exception);
    return klass != nullptr ? MonoAPI::mono_class_get_name_ptr(klass) : "";
}

}  // namespace cloudsdk
