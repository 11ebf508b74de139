#pragma once

// UTF-8 <-> UTF-16 conversion for texts crossing into and out of the runtime. Both
// directions replace each ill-formed part with U+FFFD (the maximal-subpart rule of the
// Unicode standard), so a crossing never fails and valid text round-trips unchanged.

#include <cstddef>
#include <string>
#include <string_view>

namespace cloudsdk {

// Replaces `out` with the UTF-16 form of `utf8`.
void Utf8ToUtf16(std::string_view utf8, std::u16string& out);
// Replaces `out` with the UTF-8 form of the `length` code units at `utf16`.
void Utf16ToUtf8(const char16_t* utf16, size_t length, std::string& out);

}  // namespace cloudsdk
