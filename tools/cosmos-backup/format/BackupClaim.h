#pragma once

#include "format/BackupCheckpoint.h"
#include "storage/BackupStore.h"

namespace cosmosbackup {

// Every run's first record claims what it is of: a backup's location (checkpoint.json), a run
// over many containers (account-checkpoint.json), a sharded run (shard-run.json), a restore's
// target and the container it created (restore-target-*, restore-rid-*). The record is created
// only when absent, in one step of the storage, so that of two runs begun at once exactly one
// makes it; the other finds the first's and goes by it or is refused. True when this run made it.
bool ClaimRecord(BackupStore& store, const std::string& name, const std::string& content);

// A new backup's first record, checkpoint.json (BackupCheckpoint: what the backup is), claims
// its location: it is created only when absent, so that of two backups started at once into one
// location exactly one goes on. Throws ToolError naming the other backup for the one that came
// second. A resumed backup goes on under the record its first run made.
void ClaimLocation(BackupStore& store, const BackupCheckpoint& record);

}  // namespace cosmosbackup
