#pragma once

#include "storage/BackupStore.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cosmosbackup {

// How far a restore into one target has come, kept durably in the backup location (one
// record per target, restore-progress-<hash>.json) so that `restore --resume` writes only
// what was not written yet. Data files are restored in manifest order, so a position is a
// file and a number of items within it; it is recorded only after the wrapper confirmed
// every write before it.
struct RestoreProgress {
    std::string endpoint;          // the account restored into ("" in records of older versions)
    std::string target;            // "database/container"
    std::string backupCreatedAt;   // of the backup it restores, so a new backup in the same place is not mixed up
    std::size_t filesDone = 0;     // manifest files written whole
    std::int64_t itemsInFile = 0;  // items of the next file written
    std::int64_t itemsDone = 0;    // all items written
    std::string sessionToken;      // of the writes so far, for reads that must see them
    bool finished = false;
    // False while the restore may not have created its target yet (recorded just before), so
    // that a failed or killed creation does not hold up a new run.
    bool created = true;
    // The throughput the restore was begun with (overrides of the backup's layout), so that a
    // resumed one creates the target alike when it was killed before creating it.
    int throughput = 0;
    int autoscaleMax = 0;
    bool noThroughput = false;
    // The report of the items the service refused, appended to before a position past them is
    // recorded, and how many it lists ("" and 0 in records of older versions, or none refused).
    std::string failureReport;
    std::int64_t itemsRefused = 0;
};

void WriteRestoreProgress(BackupStore& store, const RestoreProgress& progress);
// The target's record, or nothing when no restore into it was recorded. Throws ToolError for
// an unreadable record.
std::optional<RestoreProgress> ReadRestoreProgress(const BackupStore& store, const std::string& target);
// Every restore progress record in the location (each checked as above).
std::vector<RestoreProgress> ReadAllRestoreProgress(const BackupStore& store);

}  // namespace cosmosbackup
