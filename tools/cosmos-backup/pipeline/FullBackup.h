#pragma once

#include "format/BackupCheckpoint.h"
#include "format/Manifest.h"
#include "format/ShardView.h"
#include "format/WriterLock.h"
#include "pipeline/BackupSeal.h"
#include "service/BackupRead.h"
#include "service/KeySlices.h"
#include "service/Connection.h"
#include "service/RequestUsage.h"
#include "storage/OpenBackupStore.h"
#include "support/Progress.h"
#include "support/RerunCommand.h"
#include "support/Semaphore.h"
#include "support/ToolError.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>

namespace cosmosbackup {

inline constexpr long long kDefaultPageSize = 1000;
inline constexpr std::int64_t kDefaultItemsPerFile = 100000;
inline constexpr int kDefaultParallelism = 4;

struct BackupOptions {
    std::string database;
    std::string container;
    std::string directory;  // the location as given: a directory or a blob URL
    // 0 = not given: the default for a new backup, the recorded setting for a resumed one.
    long long pageSize = 0;
    std::int64_t itemsPerFile = 0;
    int parallelism = 0;  // ranges read at once; a resumed backup may be given another
    bool resume = false;  // go on with the interrupted backup in `directory`
    std::string since;    // an incremental backup: the chain's last backup before this one
    // Set by a run over many containers: its bound on the readers of all of them, its progress line.
    Semaphore* readerSlots = nullptr;
    Progress* progress = nullptr;
    StoreOptions storage;  // how blob locations are reached
    RerunCommand rerun;    // how this run was started, for the command that continues it
    // One shard of a backup run as several tasks (ShardView.h): this task reads its slice of the
    // key space into files of its own; `backup --finish` then writes the manifest.
    std::optional<ShardSpec> shard;
    std::string shardRun;  // the start of the run the shard belongs to (ShardRun.h)
    // The run's locks, taken before it read any record of the location: checked before each seal.
    const WriterLocks* locks = nullptr;
    // An increment's parent (`since`), opened once per run (BackUp opens it when the caller did not).
    std::shared_ptr<BackupStore> sinceStore;
    // A container an account run gives a full backup: an interrupted increment there is refused.
    bool fullOnly = false;
};

struct BackupSummary {
    std::string source;  // database/container
    std::int64_t items = 0;
    int scripts = 0;
    int files = 0;
    std::int64_t bytes = 0;
    double seconds = 0;
    long long countedBefore = 0;  // the container's count when the backup began (-1: not comparable, a shard)
    bool alreadyDone = false;     // a shard found its part complete: nothing was read
    ThroughputLayout layout;      // where the container's throughput came from
    RequestUsage usage;           // request units, throttling
    bool alreadyComplete = false; // a resume found the backup finished: nothing was read
};

// What a backup run is: a new backup, or the interrupted one in the location going on. An
// interrupted backup is what its first record says (kind, source, parent, settings), whatever
// options are given again; options that contradict the record are refused. `--resume` where
// nothing was recorded yet (or only an unfinished start: a created directory, a file cut off by
// the kill) is a new backup, so a scheduler may always run the same command with --resume.
struct BackupStart {
    BackupOptions options;                     // source and settings, resolved
    std::optional<BackupCheckpoint> recorded;  // the interrupted backup's first record
    bool complete = false;  // the location holds a finished backup; a resume has nothing to do

    bool IsIncrement() const { return recorded ? recorded->IsIncrement() : !options.since.empty(); }
};
BackupStart StartBackup(BackupStore& store, const BackupOptions& given, const std::string& endpoint);

// Backs up one container into a new location: the items as gzip-compressed JSON Lines, read
// range by range on bridge objects of their own (made with `connectionOptions`) with a
// checkpoint per range, and a manifest written last, so that an interrupted backup has none
// and is never taken as whole; a resumed start goes on with the interrupted one.
BackupSummary RunBackup(Connection& connection, const ConnectionOptions& connectionOptions, BackupStore& store,
                        const BackupStart& start);
// What a resume of a finished backup reports (and the leftovers of its last run it removes).
BackupSummary CompletedBackup(BackupStore& store);

// Steps shared with incremental backups (IncrementBackup.h) and shards (ShardBackup.h).
// Describes the open container into the manifest: partition key, indexing, throughput, TTL,
// the whole definition, scripts. Returns the container's item count.
long long Describe(Connection& connection, Manifest& manifest);
// Opens the container the options name on `connection` and starts its manifest with the source.
Manifest OpenSource(Connection& connection, const std::string& endpoint, const BackupOptions& options);
// The first durable record of a new backup, before its ranges and positions are known.
BackupCheckpoint NewBackupRecord(const BackupOptions& options, const std::string& endpoint);
// Makes the location ready for a new backup: a new or empty location, or one that holds only
// what a backup killed before its first record left. The record then claims it (BackupClaim).
void PrepareNewLocation(BackupStore& store);
// Refuses a new shard (options.shard) in a location that holds shards of another run: other
// source or settings (their records) or another shard count (their finished records).
void RefuseOtherShardRuns(BackupStore& location, const BackupOptions& options, const std::string& endpoint);
// The command that continues the backup in options.directory, as one line.
std::string ResumeCommand(const BackupOptions& options);
// A failure once the backup's first record is durable: it ends with the command that continues.
ToolError WithResumeHint(const std::exception& failure, const BackupOptions& options);
// Reads the items into per-range data files (BackUpItems) as the record says.
BackupItems ReadBackupItems(const ConnectionOptions& connectionOptions, const BackupOptions& options, BackupStore& store,
                            const BackupCheckpoint& record, std::int64_t expected);
// What a shard's seal records of its run (BackupSeal.h): its index, slice and settings, and
// for an increment's shard what finishing needs to find its deletions (`increment`: its key
// files, positions and links).
ShardSeal ShardSealOf(const BackupOptions& options, const KeySlice& slice, const nlohmann::json& increment = nullptr);
// The summary's figures of a written backup, its requests included.
void Summarise(Connection& connection, const Manifest& manifest, const BackupItems& items, BackupSummary& summary);

}  // namespace cosmosbackup
