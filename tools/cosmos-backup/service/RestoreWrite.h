#pragma once

#include "format/Manifest.h"
#include "service/Connection.h"
#include "service/RequestUsage.h"
#include "storage/BackupStore.h"
#include "support/Progress.h"

#include <cstdint>
#include <string>

namespace cosmosbackup {

struct RestoreItemsOptions {
    BackupStore* store = nullptr;  // the backup, which also takes the progress records
    std::string database;
    std::string container;
    int parallelism = 16;
    std::size_t itemsPerCall = 500;
    bool resume = false;
    std::string resumeCommand;  // what to run to go on, for the error of a restore that stopped
    // The data files were vouched for without reading them (sizes, the storage's MD5): their
    // content is checked while they are read for writing, and a fault stops the restore there.
    bool checkWhileReading = false;
    Progress* progress = nullptr;  // the whole run's progress, if it has one
};

struct RestoredItems {
    std::int64_t written = 0;  // by this run
    std::int64_t skipped = 0;  // written by an earlier, interrupted run
    std::int64_t failed = 0;   // listed in the report
    std::string reportPath;
    RequestUsage usage;
    double seconds = 0;
};

// Writes the backup's items into the target (which exists), recording durably after each data
// file (and every few thousand items) how far it has come; with `resume`, goes on from the
// recorded position. Items the service refuses are listed in a report file in the current
// directory; a restore that stops throws ToolError ending with the command that continues it.
RestoredItems RestoreItemsResumably(Connection& connection, const Manifest& manifest, const RestoreItemsOptions& options);

// Throws ToolError when a restore into the target was interrupted and not resumed.
void RefuseInterruptedTarget(const Manifest& manifest, const RestoreItemsOptions& options);

// The session token of the writes of the last restore recorded into database/container ("" if none).
std::string RecordedSessionToken(const BackupStore& store, const std::string& database, const std::string& container);

}  // namespace cosmosbackup
