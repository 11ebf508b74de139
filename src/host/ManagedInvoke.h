#pragma once

// The one road into managed code. A managed method is looked up by name, and before it
// runs its declaration is compared with the argument array the native side built
// (Arguments.h): static or instance, parameter count, and each parameter's type and
// by-reference flag. A method that does not fit is logged and not run; the runtime
// would otherwise read and write the native slots as the method declares them. The
// declaration is read from the runtime once per method (MethodDeclaration.h); the
// comparison is made on every call. Every method runs with an exception slot, because
// without one a managed exception ends the host process.
//
// REQUIRES: the runtime up and the calling thread attached.

#include <CloudSDKCppBridge/MonoTypes.h>

#include "host/Arguments.h"
#include "host/MethodDeclaration.h"

#include <memory>

#include <optional>

namespace cloudsdk {

enum class Binding { Static, Instance };

// The method `name` of `klass` (any parameter count: the wrapper contract has one method
// per name; `paramCount` >= 0 picks one of overloaded constructors), or null.
MonoMethod* FindMethod(MonoClass* klass, const char* name, int paramCount = -1);

// A method whose declaration was found to fit a shape of arguments, with what each run
// needs to know of it. Made only by FitMethod; empty when the method did not fit.
class FittedMethod {
public:
    FittedMethod() = default;
    MonoMethod* Method() const { return m_declaration ? m_declaration->method : nullptr; }
    const MethodDeclaration& Declaration() const { return *m_declaration; }
    explicit operator bool() const { return m_declaration != nullptr; }

private:
    friend FittedMethod FitMethod(MonoMethod* method, Binding binding, const ArgumentList& args);

    std::shared_ptr<const MethodDeclaration> m_declaration;
};

// `method` if it is declared with `binding` and exactly the parameters `args` describes;
// else empty, with the method, the expected and the found signature logged.
FittedMethod FitMethod(MonoMethod* method, Binding binding, const ArgumentList& args);

// FindMethod, then FitMethod: empty when the method is missing or does not fit.
FittedMethod FindFittingMethod(MonoClass* klass, const char* name, Binding binding, const ArgumentList& args);

struct InvokeResult {
    MonoObject* value = nullptr;      // the result; null for a method returning nothing
    MonoObject* exception = nullptr;  // the managed exception the method raised, if any
    bool ran = false;                 // false: refused before running (logged)
};

// Runs `method` on `instance` (null for a static method; a boxed value for a method of a
// value type) after the checks that need the values: the instance is of the method's
// class, each object argument of its parameter's class, no text argument is missing.
// REQUIRES: `method` was fitted to arguments of these shapes.
InvokeResult InvokeFitted(const FittedMethod& method, MonoObject* instance, const ArgumentList& args);

// FitMethod, then InvokeFitted.
InvokeResult InvokeChecked(MonoMethod* method, MonoObject* instance, const ArgumentList& args);

// The result of a run, or null with "<what> raised <exception class>" logged through
// g_debug's error when the method raised. `what` is printf-formatted, only when needed.
MonoObject* ResultOrLogged(const InvokeResult& result, const char* what, ...) __attribute__((format(printf, 2, 3)));

// Runs the parameterless constructor that `klass` declares on `object`, through the
// invoker: the runtime's own object initialiser has no exception slot. Nothing when the
// class declares none.
std::optional<InvokeResult> RunDefaultConstructor(MonoClass* klass, MonoObject* object);

// Whether `object` is of `klass` or of a class derived from it.
bool IsInstanceOf(MonoObject* object, MonoClass* klass);

// The managed class name of an exception object ("" for null).
const char* ExceptionClassName(MonoObject* exception);

}  // namespace cloudsdk
