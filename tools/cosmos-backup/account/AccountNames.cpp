#include "account/AccountNames.h"

#include <cstdint>
#include <cstdio>

namespace cosmosbackup {
namespace {

// Below the usual 255-byte file name limit, with room for the hash.
constexpr std::size_t kMaxSegment = 200;

bool KeptAsIs(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// FNV-1a, 64 bits: enough to keep two long ids with the same beginning apart.
std::uint64_t Fnv1a(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    return hash;
}

}  // namespace

std::string EncodeSegment(const std::string& id) {
    std::string segment;
    for (unsigned char c : id) {
        if (KeptAsIs(c)) {
            segment += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "~%02X", c);
            segment += escaped;
        }
    }
    if (segment.empty()) return "~";  // an empty id (never valid in the service) still gets a name
    if (segment.size() <= kMaxSegment) return segment;
    char hash[24];
    std::snprintf(hash, sizeof hash, "~~%016llx", static_cast<unsigned long long>(Fnv1a(id)));
    std::size_t cut = kMaxSegment - 18;
    // Never cut an escape in two ('~' only ever starts one).
    if (segment[cut - 1] == '~') cut -= 1;
    else if (segment[cut - 2] == '~') cut -= 2;
    return segment.substr(0, cut) + hash;
}

}  // namespace cosmosbackup
