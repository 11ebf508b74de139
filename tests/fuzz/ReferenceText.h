#pragma once

// An independent statement of what the text crossing must produce, for the fuzz targets to
// compare against. It follows the table of well-formed UTF-8 byte sequences of the Unicode
// standard row by row and copies well-formed sequences byte for byte, so it shares no code
// and no decoding arithmetic with the library's converters.

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <string_view>

namespace fuzzref {

struct ByteRange {
    uint8_t low;
    uint8_t high;
    bool Holds(uint8_t b) const { return b >= low && b <= high; }
};

// One row of the well-formed sequence table: the lead byte range, then each following byte's.
struct SequenceRow {
    ByteRange lead;
    int following;
    ByteRange rest[3];
};

inline constexpr ByteRange kTail{0x80, 0xBF};
inline constexpr SequenceRow kRows[] = {
    {{0xC2, 0xDF}, 1, {kTail}},
    {{0xE0, 0xE0}, 2, {{0xA0, 0xBF}, kTail}},
    {{0xE1, 0xEC}, 2, {kTail, kTail}},
    {{0xED, 0xED}, 2, {{0x80, 0x9F}, kTail}},
    {{0xEE, 0xEF}, 2, {kTail, kTail}},
    {{0xF0, 0xF0}, 3, {{0x90, 0xBF}, kTail, kTail}},
    {{0xF1, 0xF3}, 3, {kTail, kTail, kTail}},
    {{0xF4, 0xF4}, 3, {{0x80, 0x8F}, kTail, kTail}},
};

inline constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

inline const SequenceRow* RowFor(uint8_t lead) {
    for (const SequenceRow& row : kRows) {
        if (row.lead.Holds(lead)) return &row;
    }
    return nullptr;
}

// `text` with every maximal ill-formed subpart replaced by U+FFFD, as UTF-8.
inline std::string RepairUtf8(std::string_view text) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<uint8_t>(text[i]);
        if (lead < 0x80) {
            out.push_back(text[i++]);
            continue;
        }
        const SequenceRow* row = RowFor(lead);
        int matched = 0;
        while (row != nullptr && matched < row->following && i + 1 + matched < text.size() &&
               row->rest[matched].Holds(static_cast<uint8_t>(text[i + 1 + matched]))) {
            ++matched;
        }
        if (row != nullptr && matched == row->following) {
            out.append(text.substr(i, 1 + matched));
        } else {
            out.append(kReplacementUtf8);
        }
        i += 1 + matched;
    }
    return out;
}

inline bool IsValidUtf8(std::string_view text) { return RepairUtf8(text) == text; }

// `units` with every lone surrogate replaced by U+FFFD.
inline std::u16string RepairUtf16(std::u16string_view units) {
    std::u16string out(units);
    for (size_t i = 0; i < out.size(); ++i) {
        const bool high = out[i] >= 0xD800 && out[i] <= 0xDBFF;
        const bool low = out[i] >= 0xDC00 && out[i] <= 0xDFFF;
        if (high && i + 1 < out.size() && out[i + 1] >= 0xDC00 && out[i + 1] <= 0xDFFF) {
            ++i;  // a pair stays
        } else if (high || low) {
            out[i] = u'\uFFFD';
        }
    }
    return out;
}

// The part of `text` before its first zero, which is what crosses as a C string.
template <class Char>
std::basic_string_view<Char> UpToZero(std::basic_string_view<Char> text) {
    return text.substr(0, text.find(Char{0}));
}

// Ends the process with a message: libFuzzer records the input that got here.
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

inline void Check(bool condition, const char* what) {
    if (!condition) Fail(what);
}

}  // namespace fuzzref
