#include "host/Utf.h"

#include <cstdint>

namespace cloudsdk {

namespace {

constexpr char16_t kReplacement = u'\uFFFD';

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

void AppendCodePoint(char32_t cp, std::u16string& out) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
        return;
    }
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
}

void AppendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

void Utf8ToUtf16(std::string_view utf8, std::u16string& out) {
    out.clear();
    out.reserve(utf8.size());
    const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
    const size_t size = utf8.size();
    size_t i = 0;
    while (i < size) {
        const uint8_t lead = bytes[i];
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        const LeadByte kind = ClassifyLead(lead);
        if (kind.continuationBytes < 0) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        char32_t cp = lead & (0x3F >> kind.continuationBytes);
        size_t next = i + 1;
        bool complete = true;
        for (int k = 0; k < kind.continuationBytes; ++k, ++next) {
            const uint8_t low = k == 0 ? kind.secondLow : 0x80;
            const uint8_t high = k == 0 ? kind.secondHigh : 0xBF;
            if (next >= size || bytes[next] < low || bytes[next] > high) {
                complete = false;
                break;
            }
            cp = (cp << 6) | (bytes[next] & 0x3F);
        }
        if (complete) {
            AppendCodePoint(cp, out);
        } else {
            out.push_back(kReplacement);  // the maximal valid prefix becomes one U+FFFD
        }
        i = next;
    }
}

void Utf16ToUtf8(const char16_t* utf16, size_t length, std::string& out) {
    out.clear();
    out.reserve(length + length / 2);
    size_t i = 0;
    while (i < length) {
        const char16_t unit = utf16[i];
        if (unit < 0x80) {
            out.push_back(static_cast<char>(unit));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length && utf16[i + 1] >= 0xDC00 &&
                   utf16[i + 1] <= 0xDFFF) {
            AppendUtf8(0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(utf16[i + 1]) - 0xDC00), out);
            i += 2;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(kReplacement, out);  // a lone surrogate
            ++i;
        } else {
            AppendUtf8(unit, out);
            ++i;
        }
    }
}

}  // namespace cloudsdk
