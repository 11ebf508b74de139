#pragma once

#include "storage/BackupStore.h"

#include <optional>
#include <string>

namespace cosmosbackup {

// The first record of a restore run (restore-target-<hash>.json in the backup location): which
// target and in how many shards, created exclusively before the target is created, so that of
// shards starting at once exactly one claims the run and a shard of another count is refused at
// once. The container the run created is named by its resource id (`_rid`) in a second record
// (restore-rid-<hash>.json), also created exclusively, once: every later step of the run (each
// shard, a resume, the finish) writes only into the container of that `_rid`. Neither record is
// rewritten while a run goes on, so shards that read them at different times read the same.
struct RestoreTarget {
    std::string endpoint;         // the account restored into
    std::string run;              // the target, or a chain's own name for it (RestoreOptions::runKey)
    std::string backupCreatedAt;  // of the backup restored
    std::string rid;              // the target's _rid (its own record); "" until the run has created it
    int shards = 0;               // 0: one process; else the run's shard count

    std::string Identity() const { return endpoint + "\n" + run + "\n" + backupCreatedAt; }
};

// Creates the record only when the run has none yet; false when another run (or shard) did first.
bool ClaimRestoreTarget(BackupStore& store, const RestoreTarget& target);
// Names the created container (target.rid) only when no step of the run did yet; false when one did.
bool NameRestoreTarget(BackupStore& store, const RestoreTarget& target);
// Replaces both records: a run started over with --into-existing (by one process).
void WriteRestoreTarget(BackupStore& store, const RestoreTarget& target);
// The run's record, or nothing; throws ToolError for an unreadable one.
std::optional<RestoreTarget> ReadRestoreTarget(const BackupStore& store, const RestoreTarget& identity);

}  // namespace cosmosbackup
