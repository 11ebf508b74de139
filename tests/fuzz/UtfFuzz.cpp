// Fuzzes the pure converters with no runtime: the input read as UTF-8 and, separately, as
// UTF-16 code units. Both round trips must be the identity on valid text and replace only
// the ill-formed parts; buffers are sized exactly so that AddressSanitizer sees any write
// or read past what the converters were given.

#include "ReferenceText.h"
#include "host/Utf.h"

#include <cstring>
#include <memory>
#include <vector>

namespace {

using fuzzref::Check;

void CheckUtf8Input(std::string_view text) {
    const std::string expected = fuzzref::RepairUtf8(text);

    // The buffer form may use exactly text.size() units; heap-allocated so overruns show.
    auto units = std::make_unique<char16_t[]>(text.size());
    const size_t count = cloudsdk::Utf8ToUtf16(text, units.get());
    Check(count <= text.size(), "UTF-16 form is longer than its UTF-8 input");

    std::u16string viaString;
    cloudsdk::Utf8ToUtf16(text, viaString);
    Check(viaString == std::u16string_view(units.get(), count), "the two UTF-8 to UTF-16 forms disagree");

    const size_t length = cloudsdk::Utf8Length(units.get(), count);
    Check(length == expected.size(), "Utf8Length differs from the repaired text's length");
    std::vector<char> bytes(length);
    cloudsdk::Utf16ToUtf8(units.get(), count, bytes.data());
    Check(std::string_view(bytes.data(), bytes.size()) == expected, "UTF-8 round trip is not the repair");

    std::string back;
    cloudsdk::Utf16ToUtf8(units.get(), count, back);
    Check(back == expected, "UTF-8 round trip through strings is not the repair");
    if (fuzzref::IsValidUtf8(text)) {
        Check(back == text, "valid UTF-8 did not round-trip unchanged");
    }
}

void CheckUtf16Input(const uint8_t* data, size_t size) {
    const size_t count = size / 2;
    auto units = std::make_unique<char16_t[]>(count);  // exactly the input, for ASan
    std::memcpy(units.get(), data, count * 2);
    const std::u16string expected = fuzzref::RepairUtf16(std::u16string_view(units.get(), count));

    std::string utf8;
    cloudsdk::Utf16ToUtf8(units.get(), count, utf8);
    Check(fuzzref::IsValidUtf8(utf8), "UTF-16 to UTF-8 produced ill-formed UTF-8");
    Check(utf8.size() == cloudsdk::Utf8Length(units.get(), count), "Utf8Length differs from the output");

    std::u16string back;
    cloudsdk::Utf8ToUtf16(utf8, back);
    Check(back == expected, "UTF-16 round trip changed more than the lone surrogates");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Copied to a buffer of exactly the input's size: the eight-byte reads must stay inside.
    auto copy = std::make_unique<char[]>(size);
    std::memcpy(copy.get(), data, size);
    CheckUtf8Input(std::string_view(copy.get(), size));
    CheckUtf16Input(data, size);
    return 0;
}
