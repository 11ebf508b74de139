#pragma once

#include "Connection.h"
#include "Manifest.h"

#include <cstdint>
#include <string>

namespace cosmosbackup {

struct BackupOptions {
    std::string database;
    std::string container;
    std::string directory;
    long long pageSize = 1000;
    std::int64_t itemsPerFile = 100000;
};

struct BackupSummary {
    std::int64_t items = 0;
    int scripts = 0;
    int files = 0;
    std::int64_t bytes = 0;
    double seconds = 0;
    long long countedBefore = 0;  // the container's count when the backup began
    ThroughputLayout layout;      // where the container's throughput came from
};

// Backs up one container into a new directory: the items as gzip-compressed JSON Lines and a
// manifest written last, so that an interrupted backup has none and is never taken as whole.
BackupSummary RunBackup(Connection& connection, const std::string& endpoint, const BackupOptions& options);

}  // namespace cosmosbackup
