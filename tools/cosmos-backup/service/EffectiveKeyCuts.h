#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace cosmosbackup {

// Where to cut a partition key range [min, max) of effective keys into `parts` pieces of about
// equal width, counted where the keys of the container's partition key kind actually lie:
// - Hash version 2: 32 hex digits of a 128-bit hash with its top two bits clear, so every key
//   is below "40"; "FF" only closes the key space.
// - Hash version 1 (and Hash without a version): the hash is a 32-bit number, binary-encoded
//   ("05" then the number's bytes) ahead of the value; cuts are such encoded numbers.
// - MultiHash: one version 2 hash per key path, concatenated; cut on the first.
// The cuts come back in key order, each strictly inside (min, max); fewer than parts - 1 when
// the interval is too narrow. An unknown kind gives none (the range is read whole).
std::vector<std::string> CutPoints(const std::string& min, const std::string& max, const nlohmann::json& partitionKey,
                                   int parts);

// Bytes as upper-case hex, as effective keys are written.
std::string UpperHex(const std::string& bytes);

// Hash version 1 keys: a number as the service encodes it in an effective key, and back.
std::string EncodeNumberKey(double value);
double DecodeNumberKey(const std::string& hex);  // throws ToolError when it is not one

}  // namespace cosmosbackup
