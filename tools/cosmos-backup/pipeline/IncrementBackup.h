#pragma once

#include "chain/KeySet.h"
#include "pipeline/FullBackup.h"

#include <cstdint>

namespace cosmosbackup {

struct IncrementSummary {
    BackupSummary backup;      // items = the changed items written
    std::int64_t deletions = 0;  // keys gone since the parent
    std::int64_t keys = 0;       // items in the state the chain now describes
    std::int64_t keyFileBytes = 0;  // the key file of that state, as stored
    int chainLength = 0;
    RequestUsage keyRead;      // the key-only read of the whole container, or the deletions feed's read
    bool deletionsFromFeed = false;  // the deletions came from the all versions and deletes feed
};

// An item that changed again while an increment read the feed comes twice; only its last
// version (the later one in file order, each range's files in order) is kept, so that writes
// in parallel cannot put an older version last. A data file that held earlier versions is
// written anew under a new name without them; one durable record (checkpoint-latest.json) then
// switches the manifest's list to the new files, and only after it are the old ones removed, so
// that a kill at any point leaves either the ranges' sealed files or the switched list whole.
// A resumed increment takes the recorded list. Updates manifest.files and manifest.itemCount.
void KeepLatestVersions(BackupStore& store, Manifest& manifest);

// An incremental backup into options.directory of what changed since the backup in
// options.since (the chain's last link): for each partition key range, the latest version of
// every item the change feed shows changed since the parent's position (ranges that split or
// merged since go on from their ancestors' positions), and the keys deleted since, found by
// comparing the container's current key set with the chain's. Reads ranges in parallel with
// checkpoints, as a full backup does; a resumed start goes on with the interrupted one from its
// record (its parent, positions and change feed parts).
IncrementSummary RunIncrementalBackup(Connection& connection, const ConnectionOptions& connectionOptions, BackupStore& store,
                                      const BackupStart& start);

}  // namespace cosmosbackup
