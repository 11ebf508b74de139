#pragma once

// The Mono embedding types that cross the public interface. They are declared with default
// visibility so that the type information of `MonoObject*`, the type of the managed
// exception the invoker throws, is shared with the host process.
#pragma GCC visibility push(default)
#include <mono/jit/jit.h>
#include <mono/metadata/appdomain.h>
#include <mono/metadata/assembly.h>
#include <mono/metadata/class.h>
#include <mono/metadata/debug-helpers.h>
#include <mono/metadata/image.h>
#include <mono/metadata/metadata.h>
#include <mono/metadata/mono-config.h>
#include <mono/metadata/mono-gc.h>
#include <mono/metadata/object.h>
#include <mono/metadata/threads.h>
#pragma GCC visibility pop
