#pragma once

#include "platform/MonoAPI.h"

#include <memory>

namespace cloudsdk {

// A text buffer handed out by the runtime, released with mono_free.
struct MonoFreeDeleter {
    void operator()(char* text) const { MonoAPI::mono_free_ptr(text); }
};
using MonoText = std::unique_ptr<char, MonoFreeDeleter>;

}  // namespace cloudsdk
