#pragma once

#include "Connection.h"
#include "Manifest.h"
#include "RequestUsage.h"

#include <cstdint>
#include <string>

namespace cosmosbackup {

struct BackupOptions {
    std::string database;
    std::string container;
    std::string directory;
    long long pageSize = 1000;
    std::int64_t itemsPerFile = 100000;
    int parallelism = 4;  // ranges read at once
    bool resume = false;  // go on with the interrupted backup in `directory`
};

struct BackupSummary {
    std::string source;  // database/container
    std::int64_t items = 0;
    int scripts = 0;
    int files = 0;
    std::int64_t bytes = 0;
    double seconds = 0;
    long long countedBefore = 0;  // the container's count when the backup began
    ThroughputLayout layout;      // where the container's throughput came from
    RequestUsage usage;           // request units, throttling
};

// Backs up one container into a new directory: the items as gzip-compressed JSON Lines, read
// range by range on bridge objects of their own (made with `connectionOptions`) with a
// checkpoint per range, and a manifest written last, so that an interrupted backup has none
// and is never taken as whole; `resume` goes on with an interrupted one.
BackupSummary RunBackup(Connection& connection, const ConnectionOptions& connectionOptions, const BackupOptions& options);

}  // namespace cosmosbackup
