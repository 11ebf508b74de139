#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace cosmosbackup {

// The effective partition key of a partition key value, as the service computes it to place an
// item (upper-case hex):
// - Hash version 1 (and Hash without a version): "05…" the binary-encoded MurmurHash3-32 of the
//   value (strings cut to 100 characters), then the value itself binary-encoded;
// - Hash version 2: MurmurHash3-128 of the value, its bytes reversed, the top two bits cleared;
// - MultiHash: one version 2 hash per path, concatenated; a shorter array is a prefix, whose
//   keys lie from its key (inclusive) to its key followed by "FF" (EffectiveKeyInterval).
// `values` is a JSON array, one value per path (`{}` for an item without one). Throws ToolError
// for a value that cannot be a partition key (an array, an object other than `{}`), for more
// values than paths, and for fewer except as a MultiHash prefix.
std::string EffectivePartitionKey(const nlohmann::json& values, const nlohmann::json& partitionKeyDefinition);

// The effective keys an item with these values (or, for a MultiHash prefix, every item under
// it) can have: [min, max). A whole value gives [key, key + "00"), the key alone.
struct EffectiveKeyInterval {
    std::string min;
    std::string max;
};
EffectiveKeyInterval EffectiveKeysOf(const nlohmann::json& values, const nlohmann::json& partitionKeyDefinition);

// MurmurHash3 as the service uses it (seed 0): x86 32-bit, and x64 128-bit as its two halves.
std::uint32_t MurmurHash3x86_32(const std::string& bytes);
struct Hash128 {
    std::uint64_t h1 = 0;
    std::uint64_t h2 = 0;
};
Hash128 MurmurHash3x64_128(const std::string& bytes);

}  // namespace cosmosbackup
