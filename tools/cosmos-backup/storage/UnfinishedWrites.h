#pragma once

#include "storage/BackupStore.h"

#include <string>

namespace cosmosbackup {

// A writer killed before its Commit leaves, in a directory, its temporary file (NAME.partial);
// in blob storage only uncommitted blocks, which no list shows. Such a file holds nothing that
// any record refers to.
inline constexpr const char* kUnfinishedWriteSuffix = ".partial";

bool IsUnfinishedWrite(const StoredFile& file);

// Removes what killed writers left in the location. Only while no writer of it is running.
void RemoveUnfinishedWrites(BackupStore& store);

}  // namespace cosmosbackup
