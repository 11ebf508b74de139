#pragma once

#include "pipeline/IncrementBackup.h"

#include <memory>

namespace cosmosbackup {

// What one backup run of one container did, whatever its kind.
struct BackupResult {
    IncrementSummary summary;  // summary.backup for every kind; the chain's figures for an increment
    BackupOptions options;     // the source and settings the run took (a resumed run: the recorded ones)
    bool increment = false;    // the location holds (or its shard is part of) an increment
};

// The backup pipeline of one container, for every kind of backup run: open the source -> begin
// (claim a new location with its first record, or take over the interrupted run under the lock
// the caller holds, reading its records only then) -> read the parts (ranges or sub-ranges, an
// increment's change feed parts, a shard's slice of either) -> seal (the manifest, an
// increment's manifest, or a shard's record; `backup --finish` seals with the same steps in
// ShardedBackupFinish.h) -> clean up -> the summary. Full, increment and shard are what the
// options and the location's records make of one run, not separate flows:
//   - options.shard: one shard's slice into its own files of `location` (ShardBackup.h);
//   - a location holding a finished backup: nothing read, its figures (resume);
//   - options.since, or an interrupted increment: an increment (IncrementBackup.h);
//   - else a full backup (FullBackup.h).
// With options.fullOnly (a container of an account run given a full backup) an interrupted
// increment in the location is refused.
BackupResult BackUp(Connection& connection, const ConnectionOptions& connectionOptions, const std::shared_ptr<BackupStore>& location,
                    const BackupOptions& options);

}  // namespace cosmosbackup
