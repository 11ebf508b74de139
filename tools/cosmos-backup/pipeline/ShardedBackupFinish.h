#pragma once

#include "format/WriterLock.h"
#include "pipeline/IncrementBackup.h"

#include <memory>
#include <string>

namespace cosmosbackup {

// Puts the shards of a sharded backup in `store` (the location `location` names) together into
// one ordinary backup: checks that every shard 0..N-1 is there, complete and of the same run
// (the same source, settings, shard count, container definition, parent, and each the slice of
// the key space its index names), then writes the key files and the manifest (restore, verify
// and chains need nothing else) and removes the shards' own records. A missing, unfinished or
// foreign shard is refused, by name, before anything is written. An increment's deletions are
// found against its parent, which is opened with `storage`. Needs no account access.
// `locks`: the run's (WriterLock.h LockRun), checked before the manifest is written.
IncrementSummary FinishShardedBackup(const std::shared_ptr<BackupStore>& store, const std::string& location, const StoreOptions& storage,
                                     const WriterLocks* locks);

}  // namespace cosmosbackup
