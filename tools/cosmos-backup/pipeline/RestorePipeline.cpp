#include "pipeline/RestorePipeline.h"

#include "chain/ChainRecord.h"
#include "format/DataFiles.h"
#include "format/FileShares.h"
#include "format/LocationLayout.h"
#include "format/RestoreProgress.h"
#include "format/WriterLock.h"
#include "pipeline/ChainRestore.h"
#include "pipeline/RestoreFinalise.h"
#include "pipeline/RestoreTargetSetup.h"
#include "pipeline/ShardedRestoreFinish.h"
#include "pipeline/SubsetRestore.h"
#include "support/ToolError.h"

#include <cstdio>

namespace cosmosbackup {
namespace {

// The backup is checked whole before anything is created or written.
Manifest CheckBackup(BackupStore& store) {
    Manifest manifest = ReadManifest(store);
    CheckSealedCounts(manifest, store.Describe() + "/" + kManifestName);
    return manifest;
}

std::string TargetName(const Manifest& manifest, const RestoreOptions& options) {
    return (options.database.empty() ? manifest.sourceDatabase : options.database) + "/" +
           (options.container.empty() ? manifest.sourceContainer : options.container);
}

// A restore writes its records (progress, target) in the backup location under its target's
// lock: a shard its own part of it, a finish all of it. A location that cannot take a lock
// (read-only media) takes no records either, and the restore goes on as one process.
WriterLocks LockRestore(const std::shared_ptr<BackupStore>& store, const Manifest& manifest, const RestoreOptions& options) {
    const std::string target = TargetName(manifest, options);
    const std::string name = RestoreLockName(options.runKey.empty() ? target : options.runKey);
    try {
        if (options.shard) return LockShard(store, options.shard->index, name);
        if (!options.finish) return LockLocation(*store, name);
        const auto recorded = ReadRestoreTarget(*store, RestoreTarget{options.endpoint, target, manifest.createdAt, "", 0});
        return LockRun(store, name, recorded ? recorded->shards : 0);
    } catch (const LockRefused&) {
        throw;
    } catch (const ToolError& e) {
        if (options.shard || options.finish) throw;
        std::fprintf(stderr, "note: the restore cannot lock %s (%s)\n", store->Describe().c_str(), e.what());
        return WriterLocks();
    }
}

// The data files a run writes: a shard's share (FileShares.h) or the whole backup's.
Manifest ShareOf(const Manifest& whole, const std::optional<ShardSpec>& shard) {
    if (!shard) return whole;
    Manifest share = whole;
    share.files = ShareOfFiles(whole.files, shard->index, shard->count);
    share.itemCount = 0;
    for (const auto& f : share.files) share.itemCount += f.items;
    return share;
}

// Checks the data files about to be written; returns whether their content is checked while
// they are read for writing instead. From remote storage each data file is downloaded once: the
// storage's list vouches for sizes and MD5s at no download. A directory is read twice instead
// (every file checked whole, then read for writing): local reads are cheap, and so a damaged or
// crafted backup still writes nothing at all.
bool CheckDataFilesToWrite(BackupStore& store, const Manifest& manifest, const std::string& directory) {
    const bool checkWhileReading = IsRemoteLocation(directory) && CheckDataFilesUnread(store, manifest);
    if (!checkWhileReading) {
        CheckDataFiles(store, manifest);
        CheckDataFileContents(store, manifest);
    }
    return checkWhileReading;
}

// How the items of `manifest` are written into the target: a whole run's settings, or a shard's,
// which records its share under a name of its own and goes on when its command runs again,
// without --resume.
RestoreItemsOptions WriteSettings(BackupStore& store, const Manifest& manifest, const RestoreOptions& options, const RestoreSummary& summary) {
    RestoreItemsOptions items = RunWriteSettings(store, options, summary.database, summary.container);
    if (options.shard) {
        items.progressKey = summary.database + "/" + summary.container + " shard " + options.shard->Describe();
        items.resumeCommand = options.rerun.Again();
        const auto recorded = ReadRestoreProgress(store, items.progressKey);
        items.resume = recorded && recorded->backupCreatedAt == manifest.createdAt && recorded->endpoint == options.endpoint;
    } else if (!options.runKey.empty()) {
        // Recorded before the target is created, so that a restore killed right after creating it resumes.
        items.progressKey = options.runKey;
    }
    return items;
}

// A shard whose share its own earlier run wrote whole has nothing to do.
bool ShareWrittenAlready(BackupStore& store, const RestoreItemsOptions& items, const RestoreOptions& options) {
    if (!options.shard || !items.resume) return false;
    const auto recorded = ReadRestoreProgress(store, items.progressKey);
    if (!recorded || !recorded->finished) return false;
    std::fprintf(stderr, "cosmos-backup: shard %s of the restore into %s/%s is complete already; nothing to do\n",
                 options.shard->Describe().c_str(), items.database.c_str(), items.container.c_str());
    return true;
}

// The source "one backup's data files" (all of them, or a shard's share): prepare the target,
// write the items, finalise (a shard leaves scripts and count to --finish).
RestoreSummary RestoreDataFiles(Connection& connection, BackupStore& store, const Manifest& whole, const RestoreOptions& options) {
    const Manifest manifest = ShareOf(whole, options.shard);
    const bool checkWhileReading = CheckDataFilesToWrite(store, manifest, options.directory);
    RestoreSummary summary;
    summary.database = options.database.empty() ? manifest.sourceDatabase : options.database;
    summary.container = options.container.empty() ? manifest.sourceContainer : options.container;
    RestoreItemsOptions items = WriteSettings(store, manifest, options, summary);
    items.checkWhileReading = checkWhileReading;
    if (ShareWrittenAlready(store, items, options)) {
        summary.alreadyDone = true;
        summary.counted = -1;
        return summary;
    }
    PrepareAndWrite(connection, store, manifest, options, items, summary);
    if (options.shard) {
        summary.counted = -1;  // scripts and the count come with --finish, after every shard
        return summary;
    }
    summary.counted = FinaliseTarget(connection, manifest, summary.database, summary.container, std::string());
    summary.scripts = manifest.scriptCount;
    // Items that could not be written are in the report; the count is then short by them.
    if (summary.counted != manifest.itemCount && summary.failed == 0) {
        throw ToolError(summary.database + "/" + summary.container + " holds " + std::to_string(summary.counted) +
                        " items after the restore; the backup has " + std::to_string(manifest.itemCount));
    }
    return summary;
}

}  // namespace

RestoreItemsOptions ItemsOptions(BackupStore& store, const RestoreOptions& options, const std::string& database,
                                 const std::string& container) {
    RestoreItemsOptions items;
    items.store = &store;
    items.endpoint = options.endpoint;
    items.database = database;
    items.container = container;
    items.parallelism = options.parallelism;
    items.itemsPerCall = options.itemsPerCall;
    items.resume = options.resume;
    items.progress = options.progress;
    items.failureReport = options.failureReport;
    return items;
}

RestoreItemsOptions RunWriteSettings(BackupStore& store, const RestoreOptions& options, const std::string& database,
                                     const std::string& container) {
    RestoreItemsOptions items = ItemsOptions(store, options, database, container);
    // --into-existing starts over on purpose; otherwise an interrupted restore is continued, not redone.
    items.intoExisting = options.intoExisting;
    items.resumeCommand = options.resumeCommand.empty() ? RestoreResumeCommand(options, database, container) : options.resumeCommand;
    items.throughput = options.throughput;
    items.autoscaleMax = options.autoscaleMax;
    items.noThroughput = options.noThroughput;
    return items;
}

void PrepareAndWrite(Connection& connection, BackupStore& store, const Manifest& manifest, const RestoreOptions& options,
                     const RestoreItemsOptions& items, RestoreSummary& summary) {
    const RestoreStart start = PrepareTarget(connection, store, manifest, options, items, summary);
    const auto restored = RestoreItemsResumably(connection, manifest, items, start.progress);
    // Refusals of an earlier run were counted in its written items already.
    summary.items = restored.written - (restored.failed - restored.failedBefore);
    summary.skipped = restored.skipped;
    summary.failed = restored.failed;
    summary.reportPath = restored.reportPath;
    summary.usage = restored.usage;
    summary.seconds = restored.seconds;
}

std::string RestoreResumeCommand(const RestoreOptions& options, const std::string& database, const std::string& container) {
    std::vector<std::string> words{"restore", "--from", options.directory, "--database", database, "--container", container};
    // A subset's run is continued as that subset's.
    for (const auto& value : options.partitionKeys) words.insert(words.end(), {"--partition-key", value});
    if (!options.idsFile.empty()) words.insert(words.end(), {"--ids", options.idsFile});
    if (IsSubsetRestore(options) && options.intoExisting) words.push_back("--into-existing");
    if (options.replaceSubset) words.push_back("--replace-subset");
    words.push_back("--resume");
    return options.rerun.With(words);
}

RestoreSummary RestoreBackup(Connection& connection, const std::shared_ptr<BackupStore>& store, const RestoreOptions& options) {
    const Manifest whole = CheckBackup(*store);
    if (IsSubsetRestore(options) && options.dryRun) return RestoreSubset(connection, store, whole, options);  // writes nothing
    const WriterLocks held = LockRestore(store, whole, options);
    if (IsSubsetRestore(options)) return RestoreSubset(connection, store, whole, options);
    if (ChainOf(whole).IsIncrement()) {
        if (options.shard || options.finish) throw ToolError("a chain is restored by one process: --shard and --finish take a full backup");
        return RestoreChain(connection, store, options);
    }
    if (options.finish) return FinishShardedRestore(connection, *store, whole, options);
    return RestoreDataFiles(connection, *store, whole, options);
}

}  // namespace cosmosbackup
