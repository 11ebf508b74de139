#pragma once

#include "format/Manifest.h"
#include "format/ShardView.h"
#include "service/Connection.h"
#include "service/RequestUsage.h"
#include "service/RestoreWrite.h"
#include "storage/BackupStore.h"
#include "support/Progress.h"
#include "storage/OpenBackupStore.h"
#include "support/RerunCommand.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cosmosbackup {

struct RestoreOptions {
    std::string directory;
    std::string endpoint;   // the account restored into
    std::string database;   // "" for the backup's source database
    std::string container;  // "" for the backup's source container
    int parallelism = 16;
    bool intoExisting = false;
    std::size_t itemsPerCall = 500;
    // Overrides of the recorded throughput layout, at most one given: the container's own
    // fixed RU/s, its own autoscale maximum, or no throughput at all (a serverless target).
    int throughput = 0;
    int autoscaleMax = 0;
    bool noThroughput = false;
    bool resume = false;  // go on with an interrupted restore into the same target
    // One shard of a restore run as several tasks: writes its share of the data files
    // (FileShares.h) and neither scripts nor count; the same command again goes on where it
    // stopped. `finish` then checks every shard done, restores the scripts and counts.
    std::optional<ShardSpec> shard;
    bool finish = false;
    std::string failureReport = ".";  // --failure-report: a directory, or the report's path
    Progress* progress = nullptr;  // a run over many containers: its one progress line
    StoreOptions storage;  // how blob locations are reached
    RerunCommand rerun;    // how this run was started, for the command that continues it
    std::string resumeCommand;  // "" = RestoreResumeCommand's; a chain's restore of its base gives the chain's
    // What the run's records are kept under: "" for the target's name; a chain's restore of its
    // base gives the chain's own, so that a plain restore of the base is never taken for it.
    std::string runKey;
    // A subset (SubsetRestore.h): partition key values or prefixes (JSON texts), a file of item
    // keys; --replace-subset, --dry-run.
    std::vector<std::string> partitionKeys;
    std::string idsFile;
    bool replaceSubset = false;
    bool dryRun = false;
    ConnectionOptions connection;  // for the key-only readers of --replace-subset
};

// The command that continues a restore of options.directory into database/container, as one line.
std::string RestoreResumeCommand(const RestoreOptions& options, const std::string& database, const std::string& container);

// What writing a backup's items into the target takes from a restore's options: the store, the
// target, the pacing and resume settings, the progress line.
RestoreItemsOptions ItemsOptions(BackupStore& store, const RestoreOptions& options, const std::string& database,
                                 const std::string& container);

struct RestoreSummary;
// The settings of a run's writes: ItemsOptions', with --into-existing, the command that
// continues the run (options.resumeCommand, else RestoreResumeCommand's) and the throughput overrides.
RestoreItemsOptions RunWriteSettings(BackupStore& store, const RestoreOptions& options, const std::string& database,
                                     const std::string& container);
// The pipeline's middle steps: prepares the target (RestoreTargetSetup.h), then writes the items
// of `manifest` (or of items.sources); the summary takes what was written.
void PrepareAndWrite(Connection& connection, BackupStore& store, const Manifest& manifest, const RestoreOptions& options,
                     const RestoreItemsOptions& items, RestoreSummary& summary);

struct RestoreSummary {
    std::string database;
    std::string container;
    std::int64_t items = 0;
    long long counted = 0;  // items in the target after the restore (-1: not counted, a shard)
    int scripts = 0;
    double seconds = 0;
    ThroughputLayout layout;  // what the target container took
    std::int64_t skipped = 0;  // written by an interrupted run before this one
    std::int64_t failed = 0;   // refused by the service, listed in reportPath
    std::string reportPath;
    RequestUsage usage;
    std::int64_t deleted = 0;  // a chain's deletions applied
    int links = 1;             // backups of the chain restored
    bool alreadyDone = false;  // a shard found its share written already
    std::int64_t filesRead = -1;  // a subset: the data files that can hold it (-1: every file)
    std::int64_t bytesRead = 0;   // ... and their bytes
    bool dryRun = false;          // nothing written: what would be, by key
    std::vector<std::string> wouldWrite;
    std::vector<std::string> wouldDelete;
};

// The restore pipeline, for every restore of one container: checks the backup (its manifest's
// counts against its files and key file) -> takes the target's lock -> prepares the target (the
// run's first record, the container created or refused, its `_rid` named or confirmed) -> writes
// the items from its source -> finalises (scripts, count). The source is the backup's data files
// (a shard: its share of them, leaving scripts and count to options.finish), or, for an
// increment, the chain's links in order with their deletions (ChainRestore.h). Throws ToolError,
// before anything is written, for a damaged, crafted or incomplete backup, for a created
// container that lacks a property of the backup, and for an existing container keyed
// differently; and when the target's count afterwards differs from the backup's.
// `store` holds the backup, opened once by the caller (options.directory names it in messages).
RestoreSummary RestoreBackup(Connection& connection, const std::shared_ptr<BackupStore>& store, const RestoreOptions& options);

}  // namespace cosmosbackup
