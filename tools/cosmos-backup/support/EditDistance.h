#pragma once

#include <cstddef>
#include <string>

namespace cosmosbackup {

// The Levenshtein distance of two words: how many letters must be inserted, removed or changed
// to turn one into the other. Near misses of names are found with it.
std::size_t EditDistance(const std::string& a, const std::string& b);

}  // namespace cosmosbackup
