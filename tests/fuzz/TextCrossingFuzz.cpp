// Fuzzes the text crossing through the real runtime, both ways: native bytes into a managed
// string and back (std2gc, gc2std), and managed UTF-16 (made by the runtime from the input
// read as code units) out to UTF-8 and back in.

#include "ReferenceText.h"
#include "RuntimeFixture.h"
#include "platform/MonoAPI.h"

#include <cstring>
#include <memory>

namespace {

using fuzzref::Check;

std::u16string_view Units(MonoString* s) {
    return {reinterpret_cast<const char16_t*>(MonoAPI::mono_string_chars_ptr(s)),
            static_cast<size_t>(MonoAPI::mono_string_length_ptr(s))};
}

void NativeFirst(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    MonoString* managed = std2gc(text);
    Check(managed != nullptr, "std2gc gave null");
    const std::string expected = fuzzref::RepairUtf8(fuzzref::UpToZero(std::string_view(text)));
    Check(gc2std(managed) == expected, "native text did not come back as its repair");
}

void ManagedFirst(const uint8_t* data, size_t size) {
    const size_t count = size / 2;
    auto units = std::make_unique<char16_t[]>(count + 1);
    std::memcpy(units.get(), data, count * 2);
    MonoString* managed = MonoAPI::mono_string_new_utf16_ptr(
        g_domain, reinterpret_cast<const mono_unichar2*>(units.get()), static_cast<int32_t>(count));
    Check(managed != nullptr, "the runtime made no string");

    const std::string native = gc2std(managed);
    Check(native.size() >= count, "UTF-8 form is shorter than its code units");
    Check(fuzzref::IsValidUtf8(native), "gc2std produced ill-formed UTF-8");

    // Back in, the text ends at the first U+0000 as any C string does.
    MonoString* again = std2gc(native);
    Check(again != nullptr, "std2gc gave null");
    const std::u16string expected = fuzzref::RepairUtf16(std::u16string_view(units.get(), count));
    Check(Units(again) == fuzzref::UpToZero(std::u16string_view(expected)),
          "managed text changed more than its lone surrogates");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzref::StartRuntimeOnce();
    NativeFirst(data, size);
    ManagedFirst(data, size);
    return 0;
}
