#pragma once

#include "BackupStore.h"
#include "Manifest.h"

#include <cstdint>
#include <functional>
#include <string>

namespace cosmosbackup {

// Checks every data file of a backup against its manifest entry (present, a plain file, size,
// CRC-32), throwing ToolError at the first that does not match.
void CheckDataFiles(const BackupStore& store, const Manifest& manifest);
void CheckDataFiles(const std::string& location, const Manifest& manifest);

// Calls `onItem` for every item line of every data file in order, and checks that each file
// holds as many items as its manifest entry says. Returns the number of items.
std::int64_t ForEachItem(const BackupStore& store, const Manifest& manifest,
                         const std::function<void(const std::string&)>& onItem);
std::int64_t ForEachItem(const std::string& location, const Manifest& manifest,
                         const std::function<void(const std::string&)>& onItem);

}  // namespace cosmosbackup
