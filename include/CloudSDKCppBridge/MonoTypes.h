#pragma once

// The runtime's handle types that cross the public interface, declared here as the opaque
// types they are, so that a host compiles against this header alone (no runtime headers).
// The declarations match the runtime's own, so the library's sources may include both.
// They have default visibility so that the type information of `MonoObject*`, the type of
// the managed exception the invoker throws, is shared with the host process.
#pragma GCC visibility push(default)
extern "C" {
typedef struct _MonoDomain MonoDomain;
typedef struct _MonoImage MonoImage;
typedef struct _MonoClass MonoClass;
typedef struct _MonoMethod MonoMethod;
typedef struct _MonoObject MonoObject;
typedef struct _MonoString MonoString;
typedef struct _MonoArray MonoArray;
}
#pragma GCC visibility pop
