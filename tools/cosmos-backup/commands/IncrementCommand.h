#pragma once

#include "chain/KeySet.h"
#include "commands/BackupCommand.h"

#include <cstdint>

namespace cosmosbackup {

struct IncrementSummary {
    BackupSummary backup;      // items = the changed items written
    std::int64_t deletions = 0;  // keys gone since the parent
    std::int64_t keys = 0;       // items in the state the chain now describes
    int chainLength = 0;
    RequestUsage keyRead;      // the key-only read of the whole container
};

// The keys of an increment's changed items. An item that changed again while the feed was
// read comes twice; only its last version (the later one in file order, each range's files in
// order) is kept and the data files that held earlier ones are written again without them, so
// that writes in parallel cannot put an older version last.
KeySet KeepLatestVersions(BackupStore& store, Manifest& manifest);

// An incremental backup into options.directory of what changed since the backup in
// options.since (the chain's last link): for each partition key range, the latest version of
// every item the change feed shows changed since the parent's position (ranges that split or
// merged since go on from their ancestors' positions), and the keys deleted since, found by
// comparing the container's current key set with the chain's. Reads ranges in parallel with
// checkpoints, as a full backup does; `resume` goes on with an interrupted one.
IncrementSummary RunIncrementalBackup(Connection& connection, const ConnectionOptions& connectionOptions,
                                      const BackupOptions& options);
// The same into `store`, already opened (options.directory names it in messages and links).
IncrementSummary BackUpIncrement(Connection& connection, const ConnectionOptions& connectionOptions, BackupStore& store,
                                 const BackupOptions& options);

}  // namespace cosmosbackup
