#include "service/EffectiveKeyCuts.h"

#include "support/ToolError.h"

#include <cstdint>
#include <cstring>

namespace cosmosbackup {
namespace {

using U128 = unsigned __int128;

constexpr const char* kKeySpaceEnd = "FF";
constexpr std::size_t kHashV2Digits = 32;
// Version 2 hashes have their top two bits cleared: every key lies below 2^126.
const U128 kHashV2End = static_cast<U128>(1) << 126;
constexpr double kHashV1End = 4294967295.0;  // the largest 32-bit hash

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    throw ToolError(std::string("an effective partition key holds '") + c + "', which is no hex digit");
}

// The first 32 hex digits of a bound as a number (shorter bounds padded with zeros).
U128 HashV2Value(const std::string& bound, bool isMax) {
    if (isMax && bound == kKeySpaceEnd) return kHashV2End;
    U128 value = 0;
    for (std::size_t i = 0; i < kHashV2Digits; ++i) value = (value << 4) | static_cast<U128>(i < bound.size() ? HexDigit(bound[i]) : 0);
    return value < kHashV2End ? value : kHashV2End;
}

std::string HashV2Key(U128 value) {
    static const char* digits = "0123456789ABCDEF";
    std::string text(kHashV2Digits, '0');
    for (std::size_t i = kHashV2Digits; i-- > 0; value >>= 4) text[i] = digits[static_cast<int>(value & 0xF)];
    return text;
}

std::vector<std::string> HashV2Cuts(const std::string& min, const std::string& max, int parts) {
    const U128 lo = min.empty() ? 0 : HashV2Value(min, false);
    const U128 hi = HashV2Value(max, true);
    std::vector<std::string> cuts;
    if (hi <= lo) return cuts;
    const U128 step = (hi - lo) / static_cast<U128>(parts);
    for (int k = 1; k < parts && step > 0; ++k) cuts.push_back(HashV2Key(lo + step * static_cast<U128>(k)));
    return cuts;
}

std::vector<std::string> HashV1Cuts(const std::string& min, const std::string& max, int parts) {
    const double lo = min.empty() ? 0 : DecodeNumberKey(min);
    const double hi = max == kKeySpaceEnd ? kHashV1End : DecodeNumberKey(max);
    std::vector<std::string> cuts;
    const auto width = static_cast<std::int64_t>(hi) - static_cast<std::int64_t>(lo);
    for (int k = 1; k < parts && width >= parts; ++k) {
        cuts.push_back(EncodeNumberKey(static_cast<double>(static_cast<std::int64_t>(lo) + k * (width / parts))));
    }
    return cuts;
}

// Doubles ordered as unsigned numbers: the sign bit flipped for positives, all bits for negatives.
std::uint64_t OrderedBits(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const std::uint64_t sign = 1ULL << 63;
    return bits < sign ? bits ^ sign : ~bits + 1;
}

double FromOrderedBits(std::uint64_t ordered) {
    const std::uint64_t sign = 1ULL << 63;
    const std::uint64_t bits = (ordered & sign) ? ordered ^ sign : ~ordered + 1;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace

// A number component: type byte 05, the first 8 bits of the ordered bits, then 7 bits per byte
// with the low bit set on every byte but the last.
std::string EncodeNumberKey(double value) {
    std::vector<unsigned char> bytes{0x05};
    std::uint64_t payload = OrderedBits(value);
    bytes.push_back(static_cast<unsigned char>(payload >> 56));
    payload <<= 8;
    unsigned char chunk = 0;
    bool first = true;
    do {
        if (!first) bytes.push_back(chunk);
        first = false;
        chunk = static_cast<unsigned char>((payload >> 56) | 0x01);
        payload <<= 7;
    } while (payload != 0);
    bytes.push_back(static_cast<unsigned char>(chunk & 0xFE));
    return UpperHex(std::string(bytes.begin(), bytes.end()));
}

std::string UpperHex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string hex;
    for (const unsigned char b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 0xF];
    }
    return hex;
}

double DecodeNumberKey(const std::string& hex) {
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<unsigned char>(HexDigit(hex[i]) * 16 + HexDigit(hex[i + 1])));
    if (bytes.size() < 3 || bytes[0] != 0x05) throw ToolError("the range bound " + hex + " is not a hash version 1 key");
    std::uint64_t payload = static_cast<std::uint64_t>(bytes[1]) << 56;
    int shift = 56;
    std::size_t at = 2;
    unsigned char b = 0;
    do {
        if (at >= bytes.size() || shift < 7) throw ToolError("the range bound " + hex + " is not a hash version 1 key");
        b = bytes[at++];
        shift -= 7;
        payload |= static_cast<std::uint64_t>(b >> 1) << shift;
    } while (b & 1);
    return FromOrderedBits(payload);
}

std::vector<std::string> CutPoints(const std::string& min, const std::string& max, const nlohmann::json& partitionKey,
                                   int parts) {
    if (parts < 2) return {};
    const std::string kind = partitionKey.value("kind", std::string("Hash"));
    const auto v = partitionKey.find("version");
    const int version = v != partitionKey.end() && v->is_number_integer() ? v->get<int>() : 1;
    std::vector<std::string> cuts;
    if (kind == "MultiHash" || (kind == "Hash" && version == 2)) {
        cuts = HashV2Cuts(min, max, parts);
    } else if (kind == "Hash") {
        cuts = HashV1Cuts(min, max, parts);
    }
    // Bounds compare as texts; a cut must fall strictly inside to give two non-empty parts.
    std::vector<std::string> inside;
    for (const auto& cut : cuts) {
        if (cut > min && cut < max && (inside.empty() || cut > inside.back())) inside.push_back(cut);
    }
    return inside;
}

}  // namespace cosmosbackup
