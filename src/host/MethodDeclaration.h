#pragma once

// What the invoker compares an argument array with: a managed method's binding, class and
// parameters, read from the runtime once per method and kept. A loaded method's
// declaration does not change while the runtime lives, and the runtime is never shut
// down; so only the lookup by name is repeated on every call, not the walk of the
// method's signature. Whether a call fits is still decided on every call, by comparing
// its argument array with the declaration.
//
// REQUIRES: the runtime up and the calling thread attached.

#include <CloudSDKCppBridge/MonoTypes.h>

#include "host/Arguments.h"

#include <cstdint>
#include <memory>

namespace cloudsdk {

struct DeclaredParameter {
    int typeCode;             // the runtime's MONO_TYPE_* code
    bool byRef;
    bool reference;           // of reference type (string, class, array, ...)
    bool anyObject;           // of type System.Object: takes an object of any class
    MonoClass* objectClass;   // a by-value reference parameter's class; null when unknown
};

struct MethodDeclaration {
    MonoMethod* method;
    MonoClass* klass;
    bool readable;            // signature and every parameter type were there to read
    bool isStatic;
    bool valueType;           // a method of a value type: runs on the value inside a box
    uint32_t parameterCount;  // as declared; only the first kMaxArguments are described
    DeclaredParameter parameters[kMaxArguments];
};

// The declaration of `method`. Kept for the life of the process for up to a fixed number
// of methods (far more than the wrapper contract has), read afresh on every use beyond it.
// The pointer owns nothing when the declaration is kept, so copying it is free.
// REQUIRES: `method` is not null.
std::shared_ptr<const MethodDeclaration> DeclarationOf(MonoMethod* method);

}  // namespace cloudsdk
