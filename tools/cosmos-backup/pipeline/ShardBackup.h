#pragma once

#include "pipeline/IncrementBackup.h"

#include <memory>

namespace cosmosbackup {

// One shard (options.shard) of a backup that a scheduler runs as several tasks, into
// `location`, which all of them share. The shard sees its own files only (ShardView), and its
// command run again goes on where it stopped, as a scheduler re-queues a killed task unchanged.
// The first shard to begin records the run (ShardRun); a shard of another run is refused before
// it reads. A full backup, or with options.since an increment. summary.backup.alreadyDone: the
// shard was complete, nothing was read.
IncrementSummary BackUpShard(Connection& connection, const ConnectionOptions& connectionOptions,
                             const std::shared_ptr<BackupStore>& location, const BackupOptions& options);

}  // namespace cosmosbackup
