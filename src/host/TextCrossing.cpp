#include <CloudSDKCppBridge.h>

#include "host/Utf.h"
#include "platform/MonoAPI.h"

#include <climits>
#include <cstring>

// Every text crossing of the library goes through these two functions. They convert
// UTF-8 and UTF-16 themselves rather than through the runtime's converters, which return
// null for invalid UTF-8 and for lone surrogates, and are slower.

MonoString* std2gc(const std::string& s) {
    // A zero byte ends the text, as for any C string handed to the runtime.
    const std::string_view text(s.c_str(), std::strlen(s.c_str()));
    std::u16string utf16;
    cloudsdk::Utf8ToUtf16(text, utf16);
    if (utf16.size() > static_cast<size_t>(INT_MAX)) {
        g_debug.error("Text of %zu bytes is too long for a managed string", text.size());
        return nullptr;
    }
    return MonoAPI::mono_string_new_utf16_ptr(g_domain, reinterpret_cast<const mono_unichar2*>(utf16.data()),
                                              static_cast<int32_t>(utf16.size()));
}

std::string gc2std(MonoString* s) {
    std::string text;
    if (s != nullptr) {
        const auto* chars = reinterpret_cast<const char16_t*>(MonoAPI::mono_string_chars_ptr(s));
        cloudsdk::Utf16ToUtf8(chars, static_cast<size_t>(MonoAPI::mono_string_length_ptr(s)), text);
    }
    return text;
}
