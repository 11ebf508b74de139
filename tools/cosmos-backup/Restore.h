#pragma once

#include "Connection.h"

#include <cstdint>
#include <string>

namespace cosmosbackup {

struct RestoreOptions {
    std::string directory;
    std::string database;   // "" for the backup's source database
    std::string container;  // "" for the backup's source container
    int parallelism = 16;
    bool intoExisting = false;
    std::size_t itemsPerCall = 500;
};

struct RestoreSummary {
    std::string database;
    std::string container;
    std::int64_t items = 0;
    long long counted = 0;  // items in the target after the restore
    int scripts = 0;
    double seconds = 0;
};

// Restores a backup into a container created with the backup's settings (partition key,
// indexing policy, throughput, TTL), then its scripts, then counts the target. Throws
// ToolError for a damaged or incomplete backup (before anything is written) and when the
// target's count differs from the backup's.
RestoreSummary RunRestore(Connection& connection, const RestoreOptions& options);

}  // namespace cosmosbackup
