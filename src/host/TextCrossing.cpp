#include "host/TextCrossing.h"

#include <CloudSDKCppBridge.h>

#include "host/RuntimeEntry.h"
#include "host/Utf.h"
#include "platform/MonoAPI.h"

#include <climits>
#include <cstring>
#include <memory>

// Every text crossing of the library goes through these two functions. They convert
// UTF-8 and UTF-16 themselves rather than through the runtime's converters, which return
// null for invalid UTF-8 and for lone surrogates, and are slower.

namespace {

// Texts up to this many code units are converted on the stack, in one pass, so that the
// only allocation is the result itself.
constexpr size_t kStackUnits = 512;

MonoString* NewManagedString(const char16_t* units, size_t count) {
    return MonoAPI::mono_string_new_utf16_ptr(g_domain, reinterpret_cast<const mono_unichar2*>(units),
                                              static_cast<int32_t>(count));
}

}  // namespace

namespace cloudsdk {

MonoString* NewManagedText(const std::string& s) {
    // A zero byte ends the text, as for any C string handed to the runtime.
    const std::string_view text(s.c_str(), std::strlen(s.c_str()));
    if (text.size() <= kStackUnits) {
        char16_t units[kStackUnits];
        return NewManagedString(units, cloudsdk::Utf8ToUtf16(text, units));
    }
    auto units = std::make_unique_for_overwrite<char16_t[]>(text.size());
    const size_t count = cloudsdk::Utf8ToUtf16(text, units.get());
    if (count > static_cast<size_t>(INT_MAX)) {
        g_debug.error("Text of %zu bytes is too long for a managed string", text.size());
        return nullptr;
    }
    return NewManagedString(units.get(), count);
}

std::string NativeText(MonoString* s) {
    if (s == nullptr) {
        return std::string();
    }
    const auto* chars = reinterpret_cast<const char16_t*>(MonoAPI::mono_string_chars_ptr(s));
    const auto length = static_cast<size_t>(MonoAPI::mono_string_length_ptr(s));
    if (length <= kStackUnits) {
        char bytes[3 * kStackUnits];  // no code unit takes more than three bytes
        return std::string(bytes, cloudsdk::Utf16ToUtf8(chars, length, bytes));
    }
    std::string text;
    cloudsdk::Utf16ToUtf8(chars, length, text);
    return text;
}

}  // namespace cloudsdk

MonoString* std2gc(const std::string& s) { return cloudsdk::EnterRuntime() ? cloudsdk::NewManagedText(s) : nullptr; }

std::string gc2std(MonoString* s) {
    return s != nullptr && cloudsdk::EnterRuntime() ? cloudsdk::NativeText(s) : std::string();
}
