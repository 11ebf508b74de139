#pragma once

#include "format/BackupCheckpoint.h"
#include "service/Connection.h"
#include "service/RequestUsage.h"
#include "support/Progress.h"
#include "support/Semaphore.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cosmosbackup {

struct BackupItemsOptions {
    ConnectionOptions connection;  // for the readers' own bridge objects
    std::string endpoint;
    std::string database;
    std::string container;
    BackupStore* store = nullptr;  // where the data files and checkpoints go
    std::string createdAt;  // of a new backup
    long long pageSize = 1000;
    std::int64_t itemsPerFile = 100000;
    int parallelism = 4;
    bool resume = false;
    // What a new backup reads instead of the container's current ranges: an increment's
    // change feed parts (ranges with the wrapper's "read":"changes" members).
    std::vector<nlohmann::json> ranges;
    // The container's partition key definition: where its effective keys lie, for cutting
    // ranges into sub-ranges when there are fewer ranges than readers.
    nlohmann::json partitionKey = nlohmann::json::object();
    // The container's ranges as the caller has just read them ({"id","minInclusive",
    // "maxExclusive"}, other members ignored); empty: read them.
    std::vector<nlohmann::json> currentRanges;
    // Sees every page of items as it is written (from the readers' threads), if set.
    std::function<void(const std::vector<CloudSDKCppBridge::SString>&)> onPage;
    Semaphore* readerSlots = nullptr;  // the whole run's bound on readers, if it has one
    Progress* progress = nullptr;      // the whole run's progress, if it has one
};

struct BackupItems {
    std::vector<DataFile> files;
    std::vector<DataFile> filesOfEarlierRuns;  // of a resumed backup: sealed before this run
    std::string createdAt;  // when the backup began (its first run, when resumed)
    RequestUsage usage;     // of the readers
    double seconds = 0;
    // Each range's last continuation: for a change feed read, where each of its parts ended.
    std::vector<std::string> endContinuations;
};

// Reads every item of the open container into per-range data files, `parallelism` readers at
// a time, with a checkpoint per range. With fewer ranges than readers, a new backup cuts the
// ranges into sub-ranges and reads those, once the first pages show that the service applies
// the key bounds (else it reads whole ranges and says so). A new backup records what it reads
// (ranges or sub-ranges, as the container has them now) in checkpoint.json before the first
// item is written; a resumed one takes them from there, after checking that the checkpoint is
// of the same container. `expected` is for the progress line.
BackupItems BackUpItems(Connection& connection, const BackupItemsOptions& options, std::int64_t expected);

}  // namespace cosmosbackup
