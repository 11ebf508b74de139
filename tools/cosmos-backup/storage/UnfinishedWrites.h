#pragma once

#include "storage/BackupStore.h"

#include <string>

namespace cosmosbackup {

// A writer killed before its Commit leaves, in a directory, its temporary file (NAME.partial),
// and an exclusive create killed before its link its own (NAME.claim-XXXXXX); in blob storage
// only uncommitted blocks, which no list shows. Such a file holds nothing any record refers to.
inline constexpr const char* kUnfinishedWriteSuffix = ".partial";
inline constexpr const char* kUnfinishedClaimSuffix = ".claim-";  // followed by six characters

bool IsUnfinishedWrite(const StoredFile& file);

// Removes what killed writers left in the location. Only while no writer of it is running.
void RemoveUnfinishedWrites(BackupStore& store);

}  // namespace cosmosbackup
