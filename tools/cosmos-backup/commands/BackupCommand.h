#pragma once

#include "format/Manifest.h"
#include "service/BackupRead.h"
#include "service/Connection.h"
#include "service/RequestUsage.h"
#include "storage/OpenBackupStore.h"
#include "support/Progress.h"
#include "support/Semaphore.h"

#include <cstdint>
#include <functional>
#include <string>

namespace cosmosbackup {

struct BackupOptions {
    std::string database;
    std::string container;
    std::string directory;  // the location as given: a directory or a blob URL
    long long pageSize = 1000;
    std::int64_t itemsPerFile = 100000;
    int parallelism = 4;  // ranges read at once
    bool resume = false;  // go on with the interrupted backup in `directory`
    std::string since;    // an incremental backup: the chain's last backup before this one
    // Set by a run over many containers: its bound on the readers of all of them, its progress line.
    Semaphore* readerSlots = nullptr;
    Progress* progress = nullptr;
    StoreOptions storage;  // how blob locations are reached
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
// The same into `store`, already opened (options.directory names it in messages and commands).
BackupSummary BackUpContainer(Connection& connection, const ConnectionOptions& connectionOptions, BackupStore& store,
                              const BackupOptions& options);

// Shared with incremental backups (IncrementCommand.h).
// Describes the open container into the manifest: partition key, indexing, throughput, TTL,
// the whole definition, scripts. Returns the container's item count.
long long Describe(Connection& connection, Manifest& manifest);
// A new backup needs a new or empty location, which it claims (BackupClaim); a resumed one the
// checkpoint of an unfinished one.
void PrepareLocation(BackupStore& store, const BackupOptions& options);
// Runs the part of a backup that writes into its claimed location: any failure in it then says
// that what was written is kept and the command that continues the backup.
void ContinuableOnFailure(const BackupOptions& options, const std::function<void()>& work);
// The database and container a backup is of: as given, or for a resumed one its checkpoint's.
BackupOptions WithSource(const BackupStore& store, BackupOptions options);
// Reads the items into per-range data files (BackUpItems) with the options' settings: the
// container's current ranges, or `ranges` when given.
BackupItems ReadBackupItems(Connection& connection, const ConnectionOptions& connectionOptions, const BackupOptions& options,
                            BackupStore& store, std::int64_t expected, std::vector<nlohmann::json> ranges = {},
                            const nlohmann::json& partitionKey = nlohmann::json::object(),
                            std::function<void(const std::vector<CloudSDKCppBridge::SString>&)> onPage = {},
                            std::vector<nlohmann::json> currentRanges = {});
// The summary's figures of a written backup, its requests included.
void Summarise(Connection& connection, const Manifest& manifest, const BackupItems& items, BackupSummary& summary);

}  // namespace cosmosbackup
