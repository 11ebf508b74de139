#pragma once

// The one road into managed code for everything below the bridge methods: every managed
// method is invoked with an exception slot, because without one a managed exception ends
// the host process.

#include <CloudSDKCppBridge/MonoTypes.h>

namespace cloudsdk {

// Runs `method` on `instance` (null for a static method). On a managed exception returns
// null and sets `exception`; otherwise `exception` is null.
MonoObject* InvokeManaged(MonoMethod* method, void* instance, void** args, MonoObject*& exception);

// The same, logging an exception through g_debug's error as
// "<what> raised <exception class>" and returning null for it.
MonoObject* InvokeManagedLogged(MonoMethod* method, void* instance, void** args, const char* what);

// Runs the parameterless constructor that `klass` declares on `object`, through an invoke
// with an exception slot: the runtime's own object initialiser ends the whole process when
// a constructor throws. False when the class declares none, or when it raised (then
// `exception` is set).
bool RunDefaultConstructor(MonoClass* klass, MonoObject* object, MonoObject*& exception);

// The managed class name of an exception object ("" for null).
const char* ExceptionClassName(MonoObject* exception);

// Keeps a managed exception object alive and in place while it travels as a native
// exception: the collector does not see the native exception's storage. The handle is
// per thread and freed by ReleaseThrownException, or by the next hold on that thread.
void HoldThrownException(MonoObject* exception);
void ReleaseThrownException();

}  // namespace cloudsdk
