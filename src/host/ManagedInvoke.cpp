#include "host/ManagedInvoke.h"

#include <CloudSDKCppBridge.h>

#include "platform/LogSink.h"
#include "platform/MonoAPI.h"

#include <cstdarg>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace cloudsdk {

namespace {

bool Matches(const DeclaredParameter& parameter, ParameterShape shape) {
    if (parameter.byRef != shape.byRef) {
        return false;
    }
    switch (shape.kind) {
        case ManagedKind::Boolean: return parameter.typeCode == MONO_TYPE_BOOLEAN;
        case ManagedKind::Int32: return parameter.typeCode == MONO_TYPE_I4;
        case ManagedKind::UInt32: return parameter.typeCode == MONO_TYPE_U4;
        case ManagedKind::Int64: return parameter.typeCode == MONO_TYPE_I8;
        case ManagedKind::UInt64: return parameter.typeCode == MONO_TYPE_U8;
        case ManagedKind::String: return parameter.typeCode == MONO_TYPE_STRING;
        // Which class the object must be of is checked against the object itself.
        case ManagedKind::Object: return parameter.reference;
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

std::string Describe(bool isStatic, MonoMethodSignature* signature) {
    std::string text = isStatic ? "static (" : "instance (";
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
bool InstanceFits(const MethodDeclaration& declaration, MonoObject* instance, void*& self) {
    self = nullptr;
    if (declaration.isStatic) {
        return instance == nullptr;
    }
    MonoMethod* method = declaration.method;
    if (instance == nullptr || !IsInstanceOf(instance, declaration.klass)) {
        g_debug.error("Managed method [%s.%s] is not run on %s", ClassNameOf(method),
                      MonoAPI::mono_method_get_name_ptr(method),
                      instance == nullptr ? "a null object" : "an object of another class");
        return false;
    }
    self = declaration.valueType ? MonoAPI::mono_object_unbox_ptr(instance) : instance;
    return true;
}

// Compares the binding, the count and each parameter with the arguments' shapes; logs a
// mismatch with both signatures.
bool ShapeFits(const MethodDeclaration& declaration, Binding binding, const ArgumentList& args) {
    bool fits = declaration.readable && declaration.isStatic == (binding == Binding::Static) &&
                declaration.parameterCount == args.count && args.count <= kMaxArguments;
    for (uint32_t i = 0; fits && i < args.count; ++i) {
        fits = Matches(declaration.parameters[i], args.shapes[i]);
    }
    if (!fits) {
        MonoMethod* method = declaration.method;
        MonoMethodSignature* signature = MonoAPI::mono_method_signature_ptr(method);
        g_debug.error("Managed method [%s.%s] does not fit the call: expected %s, found %s", ClassNameOf(method),
                      MonoAPI::mono_method_get_name_ptr(method), Describe(binding == Binding::Static, args).c_str(),
                      signature != nullptr ? Describe(declaration.isStatic, signature).c_str() : "no signature");
    }
    return fits;
}

bool IsReferenceValue(ParameterShape shape) {
    return !shape.byRef && (shape.kind == ManagedKind::String || shape.kind == ManagedKind::Object);
}

// The declared type of parameter `index` (from 0), for a message.
std::string ParameterTypeName(MonoMethod* method, uint32_t index) {
    MonoMethodSignature* signature = MonoAPI::mono_method_signature_ptr(method);
    void* cursor = nullptr;
    MonoType* type = nullptr;
    for (uint32_t i = 0; signature != nullptr && i <= index; ++i) {
        type = MonoAPI::mono_signature_get_params_ptr(signature, &cursor);
    }
    return type != nullptr ? TypeName(type) : "?";
}

// What the by-value references hold: a text that could not be made, or an object of
// another class than its parameter's, refuses the call (logged).
bool ValueFits(const MethodDeclaration& declaration, const ArgumentList& args, uint32_t i) {
    MonoMethod* method = declaration.method;
    void* value = args.slots[i];
    if (args.shapes[i].kind == ManagedKind::String) {
        if (value == nullptr) {
            g_debug.error("Managed method [%s.%s] is not run: text argument %u could not be made", ClassNameOf(method),
                          MonoAPI::mono_method_get_name_ptr(method), i + 1);
        }
        return value != nullptr;
    }
    const DeclaredParameter& parameter = declaration.parameters[i];
    if (value == nullptr || parameter.anyObject) {
        return true;
    }
    auto* argument = static_cast<MonoObject*>(value);
    if (parameter.objectClass != nullptr && IsInstanceOf(argument, parameter.objectClass)) {
        return true;
    }
    g_debug.error("Managed method [%s.%s] is not run: argument %u is a [%s], not a [%s]", ClassNameOf(method),
                  MonoAPI::mono_method_get_name_ptr(method), i + 1,
                  MonoAPI::mono_class_get_name_ptr(MonoAPI::mono_object_get_class_ptr(argument)),
                  ParameterTypeName(method, i).c_str());
    return false;
}

bool ValuesFit(const MethodDeclaration& declaration, const ArgumentList& args) {
    for (uint32_t i = 0; i < args.count; ++i) {
        if (IsReferenceValue(args.shapes[i]) && !ValueFits(declaration, args, i)) {
            return false;
        }
    }
    return true;
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

}  // namespace

MonoMethod* FindMethod(MonoClass* klass, const char* name, int paramCount) {
    return klass != nullptr && name != nullptr ? MonoAPI::mono_class_get_method_from_name_ptr(klass, name, paramCount)
                                               : nullptr;
}

FittedMethod FitMethod(MonoMethod* method, Binding binding, const ArgumentList& args) {
    FittedMethod fitted;
    if (method == nullptr) {
        return fitted;
    }
    std::shared_ptr<const MethodDeclaration> declaration = DeclarationOf(method);
    if (ShapeFits(*declaration, binding, args)) {
        fitted.m_declaration = std::move(declaration);
    }
    return fitted;
}

FittedMethod FindFittingMethod(MonoClass* klass, const char* name, Binding binding, const ArgumentList& args) {
    MonoMethod* method = FindMethod(klass, name);
    return method != nullptr ? FitMethod(method, binding, args) : FittedMethod();
}

InvokeResult InvokeFitted(const FittedMethod& method, MonoObject* instance, const ArgumentList& args) {
    void* self = nullptr;
    if (!method || !InstanceFits(method.Declaration(), instance, self) || !ValuesFit(method.Declaration(), args)) {
        return InvokeResult{};
    }
    return Run(method.Method(), self, args);
}

InvokeResult InvokeChecked(MonoMethod* method, MonoObject* instance, const ArgumentList& args) {
    return InvokeFitted(FitMethod(method, instance == nullptr ? Binding::Static : Binding::Instance, args), instance,
                        args);
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

std::optional<InvokeResult> RunDefaultConstructor(MonoClass* klass, MonoObject* object) {
    MonoMethod* constructor = FindMethod(klass, ".ctor", 0);
    if (constructor == nullptr) {
        return std::nullopt;
    }
    return InvokeChecked(constructor, object, kNoArguments);
}

bool IsInstanceOf(MonoObject* object, MonoClass* klass) {
    // The runtime's test sets up a frame of handles on every call; the exact class, the
    // common case on every step of a list walk, needs none.
    return MonoAPI::mono_object_get_class_ptr(object) == klass || MonoAPI::mono_object_isinst_ptr(object, klass) != nullptr;
}

const char* ExceptionClassName(MonoObject* exception) {
    if (exception == nullptr) {
        return "";
    }
    MonoClass* klass = MonoAPI::mono_object_get_class_ptr(exception);
    return klass != nullptr ? MonoAPI::mono_class_get_name_ptr(klass) : "";
}

}  // namespace cloudsdk
