#include "host/Utf.h"

#include <cstdint>
#include <cstring>

namespace cloudsdk {

namespace {

constexpr char16_t kReplacement = u'\uFFFD';
constexpr uint64_t kHighBits = 0x8080808080808080ULL;

struct LeadByte {
    int continuationBytes;  // -1: not a valid lead byte
    uint8_t secondLow;      // the second byte's range narrows to exclude overlongs,
    uint8_t secondHigh;     // surrogates and code points above U+10FFFF
};

LeadByte ClassifyLead(uint8_t b) {
    if (b >= 0xC2 && b <= 0xDF) return {1, 0x80, 0xBF};
    if (b == 0xE0) return {2, 0xA0, 0xBF};
    if (b == 0xED) return {2, 0x80, 0x9F};
    if (b >= 0xE1 && b <= 0xEF) return {2, 0x80, 0xBF};
    if (b == 0xF0) return {3, 0x90, 0xBF};
    if (b >= 0xF1 && b <= 0xF3) return {3, 0x80, 0xBF};
    if (b == 0xF4) return {3, 0x80, 0x8F};
    return {-1, 0, 0};
}

char16_t* PutCodePoint(char32_t cp, char16_t* out) {
    if (cp < 0x10000) {
        *out++ = static_cast<char16_t>(cp);
        return out;
    }
    cp -= 0x10000;
    *out++ = static_cast<char16_t>(0xD800 + (cp >> 10));
    *out++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    return out;
}

// Decodes the non-ASCII sequence at bytes[i]; writes one code point or one U+FFFD for the
// maximal ill-formed prefix, and returns the index after what it consumed.
size_t DecodeSequence(const uint8_t* bytes, size_t size, size_t i, char16_t*& out) {
    const uint8_t lead = bytes[i];
    const LeadByte kind = ClassifyLead(lead);
    if (kind.continuationBytes < 0) {
        *out++ = kReplacement;
        return i + 1;
    }
    char32_t cp = lead & (0x3F >> kind.continuationBytes);
    size_t next = i + 1;
    for (int k = 0; k < kind.continuationBytes; ++k, ++next) {
        const uint8_t low = k == 0 ? kind.secondLow : 0x80;
        const uint8_t high = k == 0 ? kind.secondHigh : 0xBF;
        if (next >= size || bytes[next] < low || bytes[next] > high) {
            *out++ = kReplacement;
            return next;
        }
        cp = (cp << 6) | (bytes[next] & 0x3F);
    }
    out = PutCodePoint(cp, out);
    return next;
}

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
bool IsPair(const char16_t* utf16, size_t length, size_t i) {
    return IsHighSurrogate(utf16[i]) && i + 1 < length && IsLowSurrogate(utf16[i + 1]);
}

char* PutUtf8(char32_t cp, char* out) {
    if (cp < 0x80) {
        *out++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out++ = static_cast<char>(0xC0 | (cp >> 6));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (cp >> 12));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (cp >> 18));
        *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

}  // namespace

size_t Utf8ToUtf16(std::string_view utf8, char16_t* out) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
    const size_t size = utf8.size();
    char16_t* const start = out;
    size_t i = 0;
    while (i < size) {
        // Eight ASCII bytes at a time: the common case for names, keys and JSON.
        uint64_t word;
        if (i + 8 <= size && (std::memcpy(&word, bytes + i, 8), (word & kHighBits) == 0)) {
            for (int k = 0; k < 8; ++k) {
                out[k] = bytes[i + k];
            }
            out += 8;
            i += 8;
        } else if (bytes[i] < 0x80) {
            *out++ = bytes[i++];
        } else {
            i = DecodeSequence(bytes, size, i, out);
        }
    }
    return static_cast<size_t>(out - start);
}

void Utf8ToUtf16(std::string_view utf8, std::u16string& out) {
    out.resize(utf8.size());
    out.resize(Utf8ToUtf16(utf8, out.data()));
}

size_t Utf8Length(const char16_t* utf16, size_t length) {
    size_t bytes = 0;
    for (size_t i = 0; i < length; ++i) {
        const char16_t unit = utf16[i];
        if (unit < 0x80) {
            bytes += 1;
        } else if (unit < 0x800) {
            bytes += 2;
        } else if (IsPair(utf16, length, i)) {
            bytes += 4;
            ++i;
        } else {
            bytes += 3;  // the rest of the BMP, and a lone surrogate's U+FFFD
        }
    }
    return bytes;
}

size_t Utf16ToUtf8(const char16_t* utf16, size_t length, char* out) {
    char* const start = out;
    for (size_t i = 0; i < length; ++i) {
        const char16_t unit = utf16[i];
        if (unit < 0x80) {
            *out++ = static_cast<char>(unit);
        } else if (IsPair(utf16, length, i)) {
            out = PutUtf8(0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(utf16[i + 1]) - 0xDC00), out);
            ++i;
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            out = PutUtf8(kReplacement, out);  // a lone surrogate
        } else {
            out = PutUtf8(unit, out);
        }
    }
    return static_cast<size_t>(out - start);
}

void Utf16ToUtf8(const char16_t* utf16, size_t length, std::string& out) {
    out.resize(Utf8Length(utf16, length));
    Utf16ToUtf8(utf16, length, out.data());
}

}  // namespace cloudsdk
