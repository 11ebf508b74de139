#pragma once

// UTF-8 <-> UTF-16 conversion for texts crossing into and out of the runtime. Both
// directions replace each ill-formed part with U+FFFD (the maximal-subpart rule of the
// Unicode standard), so a crossing never fails and valid text round-trips unchanged.

#include <cstddef>
#include <string>
#include <string_view>

namespace cloudsdk {

// Writes the UTF-16 form of `utf8` to `out` and returns the number of code units written.
// REQUIRES: `out` has room for utf8.size() units (no input byte yields more than one unit).
size_t Utf8ToUtf16(std::string_view utf8, char16_t* out);
// Replaces `out` with the UTF-16 form of `utf8`.
void Utf8ToUtf16(std::string_view utf8, std::u16string& out);

// The number of UTF-8 bytes that the `length` code units at `utf16` convert to.
size_t Utf8Length(const char16_t* utf16, size_t length);
// Writes the UTF-8 form of the `length` code units at `utf16` to `out` and returns the
// number of bytes written.
// REQUIRES: `out` has room for Utf8Length(utf16, length) bytes (3 * length always do).
size_t Utf16ToUtf8(const char16_t* utf16, size_t length, char* out);
// Replaces `out` with the UTF-8 form of the `length` code units at `utf16`.
void Utf16ToUtf8(const char16_t* utf16, size_t length, std::string& out);

}  // namespace cloudsdk
