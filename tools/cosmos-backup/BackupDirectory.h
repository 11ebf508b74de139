#pragma once

#include <string>

namespace cosmosbackup {

// Creates `path` for a new backup, readable by the owner only (0700). Refuses a directory
// that exists and is not empty, so that a backup never mixes with another.
void CreateBackupDirectory(const std::string& path);

// The name of the n-th data file of a backup.
std::string DataFileName(int index);

}  // namespace cosmosbackup
