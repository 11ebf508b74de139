#pragma once

#include "format/Manifest.h"
#include "pipeline/RestorePipeline.h"
#include "service/Connection.h"
#include "storage/BackupStore.h"

namespace cosmosbackup {

// The restore pipeline's finalising step for a sharded run (`restore --finish`): checks every
// shard of the restore of `manifest` into the target done, confirms the target's `_rid`, restores
// the scripts, counts, and writes the target's own progress record (so that verify reads with
// the shards' session tokens).
RestoreSummary FinishShardedRestore(Connection& connection, BackupStore& store, const Manifest& manifest, const RestoreOptions& options);

}  // namespace cosmosbackup
