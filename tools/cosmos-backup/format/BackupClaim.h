#pragma once

#include "format/BackupCheckpoint.h"
#include "storage/BackupStore.h"

namespace cosmosbackup {

// A new backup's first record, checkpoint.json (BackupCheckpoint: what the backup is), claims
// its location: it is created only when absent, so that of two backups started at once into one
// location exactly one goes on. Throws ToolError naming the other backup for the one that came
// second. A resumed backup goes on under the record its first run made.
void ClaimLocation(BackupStore& store, const BackupCheckpoint& record);

}  // namespace cosmosbackup
