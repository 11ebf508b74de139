#include "service/EffectivePartitionKey.h"

#include "service/EffectiveKeyCuts.h"
#include "support/ToolError.h"

#include <cstring>

namespace cosmosbackup {
namespace {

// The type bytes that start each value's encoding.
enum TypeByte : unsigned char {
    kUndefined = 0x00,
    kNull = 0x01,
    kFalse = 0x02,
    kTrue = 0x03,
    kNumber = 0x05,
    kString = 0x08,
    kEndOfString = 0xFF,  // a version 2 string's end in its hashed form
};

// Version 1 keys hold at most this many characters (UTF-16 units) of a string value.
constexpr std::size_t kMaxStringChars = 100;
// ... and of its UTF-8 bytes in the binary encoding.
constexpr std::size_t kMaxStringBytes = 100;

std::uint64_t RotateLeft(std::uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }
std::uint32_t RotateLeft32(std::uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

std::uint64_t Mix64(std::uint64_t k) {
    k ^= k >> 33;
    k *= 0xff51afd7ed558ccdULL;
    k ^= k >> 33;
    k *= 0xc4ceb9fe1a85ec53ULL;
    k ^= k >> 33;
    return k;
}

std::uint64_t LittleEndian64(const unsigned char* p, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t i = n; i-- > 0;) v = (v << 8) | p[i];
    return v;
}

// The first `chars` UTF-16 units of a UTF-8 text (a character outside the BMP counts two).
std::string TruncatedToChars(const std::string& text, std::size_t chars) {
    std::size_t units = 0, at = 0;
    while (at < text.size()) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const std::size_t width = length == 4 ? 2 : 1;
        if (units + width > chars) break;
        units += width;
        at += length;
    }
    return text.substr(0, std::min(at, text.size()));
}

std::string DoubleBytes(double value) {
    unsigned char bytes[8];
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
    return std::string(reinterpret_cast<const char*>(bytes), 8);
}

void CheckValue(const nlohmann::json& value) {
    if (value.is_array() || (value.is_object() && !value.empty())) {
        throw ToolError("a partition key value is a string, number, boolean or null, not " + value.dump());
    }
}

// A value as it is hashed; `endOfString` closes a string (version 1: 00, version 2: FF).
std::string HashedForm(const nlohmann::json& value, unsigned char endOfString) {
    CheckValue(value);
    if (value.is_string()) return std::string(1, static_cast<char>(kString)) + value.get<std::string>() + static_cast<char>(endOfString);
    if (value.is_number()) return std::string(1, static_cast<char>(kNumber)) + DoubleBytes(value.get<double>());
    if (value.is_boolean()) return std::string(1, static_cast<char>(value.get<bool>() ? kTrue : kFalse));
    if (value.is_null()) return std::string(1, static_cast<char>(kNull));
    return std::string(1, static_cast<char>(kUndefined));
}

// A value's binary encoding, which follows the hash in a version 1 key (hex).
std::string BinaryEncoded(const nlohmann::json& value) {
    if (value.is_number()) return EncodeNumberKey(value.get<double>());
    if (value.is_boolean()) return UpperHex(std::string(1, static_cast<char>(value.get<bool>() ? kTrue : kFalse)));
    if (value.is_null()) return UpperHex(std::string(1, static_cast<char>(kNull)));
    if (!value.is_string()) return UpperHex(std::string(1, static_cast<char>(kUndefined)));
    const std::string text = value.get<std::string>();
    const bool shortText = text.size() <= kMaxStringBytes;
    std::string bytes(1, static_cast<char>(kString));
    for (std::size_t i = 0; i < (shortText ? text.size() : kMaxStringBytes + 1); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        bytes += static_cast<char>(b < 0xFF ? b + 1 : b);
    }
    if (shortText) bytes += static_cast<char>(kUndefined);
    return UpperHex(bytes);
}

std::string HashV1(const nlohmann::json& value) {
    nlohmann::json truncated = value;
    if (value.is_string()) truncated = TruncatedToChars(value.get<std::string>(), kMaxStringChars);
    const std::uint32_t hash = MurmurHash3x86_32(HashedForm(truncated, kUndefined));
    return EncodeNumberKey(static_cast<double>(hash)) + BinaryEncoded(truncated);
}

std::string HashV2(const nlohmann::json& value) {
    const Hash128 hash = MurmurHash3x64_128(HashedForm(value, kEndOfString));
    std::string bytes(16, '\0');
    // The 128-bit number (h2 high, h1 low) big-endian: the little-endian bytes reversed.
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<char>(hash.h2 >> (56 - 8 * i));
        bytes[8 + i] = static_cast<char>(hash.h1 >> (56 - 8 * i));
    }
    bytes[0] = static_cast<char>(static_cast<unsigned char>(bytes[0]) & 0x3F);
    return UpperHex(bytes);
}

std::string KindOf(const nlohmann::json& definition) { return definition.value("kind", std::string("Hash")); }
int VersionOf(const nlohmann::json& definition) {
    const auto version = definition.find("version");
    return version != definition.end() && version->is_number_integer() ? version->get<int>() : 1;
}
std::size_t PathCount(const nlohmann::json& definition) {
    const auto paths = definition.find("paths");
    return paths != definition.end() && paths->is_array() ? paths->size() : 0;
}

}  // namespace

std::uint32_t MurmurHash3x86_32(const std::string& text) {
    const auto* data = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t length = text.size();
    const std::uint32_t c1 = 0xcc9e2d51, c2 = 0x1b873593;
    std::uint32_t h = 0;
    const std::size_t blocks = length / 4;
    for (std::size_t i = 0; i < blocks; ++i) {
        std::uint32_t k = static_cast<std::uint32_t>(LittleEndian64(data + 4 * i, 4));
        k = RotateLeft32(k * c1, 15) * c2;
        h ^= k;
        h = RotateLeft32(h, 13) * 5 + 0xe6546b64;
    }
    std::uint32_t k = static_cast<std::uint32_t>(LittleEndian64(data + 4 * blocks, length & 3));
    if (length & 3) h ^= RotateLeft32(k * c1, 15) * c2;
    h ^= static_cast<std::uint32_t>(length);
    h ^= h >> 16;
    h *= 0x85ebca6b;
    h ^= h >> 13;
    h *= 0xc2b2ae35;
    h ^= h >> 16;
    return h;
}

Hash128 MurmurHash3x64_128(const std::string& text) {
    const auto* data = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t length = text.size();
    const std::uint64_t c1 = 0x87c37b91114253d5ULL, c2 = 0x4cf5ad432745937fULL;
    std::uint64_t h1 = 0, h2 = 0;
    const std::size_t blocks = length / 16;
    for (std::size_t i = 0; i < blocks; ++i) {
        std::uint64_t k1 = LittleEndian64(data + 16 * i, 8), k2 = LittleEndian64(data + 16 * i + 8, 8);
        h1 ^= RotateLeft(k1 * c1, 31) * c2;
        h1 = (RotateLeft(h1, 27) + h2) * 5 + 0x52dce729;
        h2 ^= RotateLeft(k2 * c2, 33) * c1;
        h2 = (RotateLeft(h2, 31) + h1) * 5 + 0x38495ab5;
    }
    const unsigned char* tail = data + 16 * blocks;
    const std::size_t rest = length & 15;
    if (rest > 8) h2 ^= RotateLeft(LittleEndian64(tail + 8, rest - 8) * c2, 33) * c1;
    if (rest > 0) h1 ^= RotateLeft(LittleEndian64(tail, std::min<std::size_t>(rest, 8)) * c1, 31) * c2;
    h1 ^= length;
    h2 ^= length;
    h1 += h2;
    h2 += h1;
    h1 = Mix64(h1);
    h2 = Mix64(h2);
    h1 += h2;
    h2 += h1;
    return Hash128{h1, h2};
}

std::string EffectivePartitionKey(const nlohmann::json& values, const nlohmann::json& definition) {
    if (!values.is_array()) throw ToolError("a partition key is a JSON array of values, not " + values.dump());
    const std::size_t paths = std::max<std::size_t>(PathCount(definition), 1);
    const bool multiHash = KindOf(definition) == "MultiHash";
    if (values.size() > paths || (values.size() < paths && !multiHash) || (values.empty() && paths > 0)) {
        throw ToolError("the partition key " + values.dump() + " does not fit the container's " + std::to_string(paths) +
                        (paths == 1 ? " path" : " paths"));
    }
    for (const auto& value : values) CheckValue(value);
    if (multiHash) {
        std::string key;
        for (const auto& value : values) key += HashV2(value);
        return key;
    }
    if (KindOf(definition) != "Hash") throw ToolError("no effective key for the partition key kind " + KindOf(definition));
    return VersionOf(definition) >= 2 ? HashV2(values[0]) : HashV1(values[0]);
}

EffectiveKeyInterval EffectiveKeysOf(const nlohmann::json& values, const nlohmann::json& definition) {
    const std::string key = EffectivePartitionKey(values, definition);
    if (values.size() < std::max<std::size_t>(PathCount(definition), 1)) return {key, key + "FF"};
    return {key, key + "00"};
}

}  // namespace cosmosbackup
