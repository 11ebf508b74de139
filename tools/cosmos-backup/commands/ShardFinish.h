#pragma once

#include "commands/BackupCommand.h"

#include <string>

namespace cosmosbackup {

// Puts the shards of a sharded backup in `location` together into one ordinary backup: checks
// that every shard 0..N-1 is there, complete and of the same run (the same source, settings,
// shard count, container definition, and each the slice of the key space its index names),
// then writes the key file and the manifest (restore, verify and chains need nothing else)
// and removes the shards' own records. A missing, unfinished or foreign shard is refused, by
// name, before anything is written. Needs no account access.
BackupSummary FinishShardedBackup(const std::string& location, const StoreOptions& storage);

}  // namespace cosmosbackup
