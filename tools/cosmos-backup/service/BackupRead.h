#pragma once

#include "format/BackupCheckpoint.h"
#include "service/Connection.h"
#include "service/RequestUsage.h"
#include "support/Progress.h"
#include "support/Semaphore.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cosmosbackup {

struct BackupItemsOptions {
    ConnectionOptions connection;  // for the readers' own bridge objects
    BackupStore* store = nullptr;  // where the data files and checkpoints go
    // The backup's first record (already durable): source, settings, and the ranges to read
    // (a container's key ranges, or an increment's change feed parts).
    BackupCheckpoint checkpoint;
    int parallelism = 4;
    Semaphore* readerSlots = nullptr;  // the whole run's bound on readers, if it has one
    Progress* progress = nullptr;      // the whole run's progress, if it has one
};

struct BackupItems {
    std::vector<DataFile> files;
    std::string createdAt;  // when the backup began (its first run, when resumed)
    RequestUsage usage;     // of the readers
    double seconds = 0;
    // Each range's last continuation: for a change feed read, where each of its parts ended.
    std::vector<std::string> endContinuations;
};

// Reads every item of the recorded ranges into per-range data files, `parallelism` ranges at
// a time, with a checkpoint per range: ranges an earlier run finished are kept, the others go on
// from their last sealed file. `expected` is for the progress line.
BackupItems BackUpItems(const BackupItemsOptions& options, std::int64_t expected);

}  // namespace cosmosbackup
