#pragma once

#include "format/BackupCheckpoint.h"
#include "service/Connection.h"
#include "service/ParallelRangeRead.h"
#include "service/RequestUsage.h"
#include "support/Progress.h"
#include "support/Semaphore.h"

#include <cstdint>
#include <exception>
#include <functional>
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
    // Readers of the record's ranges that have read ahead (PlanRead), if any; else each range
    // goes on from its own checkpoint.
    RangeReaders* readers = nullptr;
    // The record's ranges are the parts of one slice of the key space (a shard, KeySlices.h).
    // Parts narrower than their range need the service to apply key bounds, so a service that
    // ignores or refuses them fails the read instead of falling back to whole ranges (which
    // would read other shards' items).
    bool sliced = false;
    // Sees every page of items as it is written (from the readers' threads), if set.
    std::function<void(const CloudSDKCppBridge::SItemPage&)> onPage;
};

// What a new backup reads: its container's ranges, or with fewer ranges than readers their
// sub-ranges, once the first pages of a pair of them show that the service applies the key
// bounds (else whole ranges, said once). The readers that read those pages keep them.
struct ReadPlan {
    std::vector<ReadPart> parts;
    RangeReaders readers;
    std::exception_ptr failure;  // of the first pages: to throw once the record is durable
};
// `options` as for BackUpItems but for the record, which is not written yet; `ranges` are the
// container's ranges as just read, `partitionKey` its definition (where its keys lie).
ReadPlan PlanRead(const BackupItemsOptions& options, const BackupCheckpoint& record, const std::vector<ReadPart>& ranges,
                  const nlohmann::json& partitionKey);

struct BackupItems {
    std::vector<DataFile> files;
    std::vector<DataFile> filesOfEarlierRuns;  // of a resumed backup: sealed before this run
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
