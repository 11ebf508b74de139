#pragma once

#include "format/Manifest.h"
#include "format/RestoreProgress.h"
#include "service/Connection.h"
#include "service/RequestUsage.h"
#include "storage/BackupStore.h"
#include "support/Progress.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cosmosbackup {

// One data file of some backup, read from the store that holds it.
struct SourceFile {
    const BackupStore* store = nullptr;
    DataFile file;
};

struct RestoreItemsOptions {
    BackupStore* store = nullptr;  // the backup, which also takes the progress records
    std::string endpoint;          // the account restored into
    std::string database;
    std::string container;
    int parallelism = 16;
    std::size_t itemsPerCall = 500;
    bool resume = false;
    bool intoExisting = false;  // a new restore starts over even where one was interrupted
    std::string resumeCommand;  // what to run to go on, for the error of a restore that stopped
    // The data files were vouched for without reading them (sizes, the storage's MD5): their
    // content is checked while they are read for writing, and a fault stops the restore there.
    bool checkWhileReading = false;
    // Recorded with a new restore: the throughput overrides it was begun with.
    int throughput = 0;
    int autoscaleMax = 0;
    bool noThroughput = false;
    Progress* progress = nullptr;  // the whole run's progress, if it has one
    // Under which name the progress is recorded: "" for the target's own ("database/container");
    // a shard of a sharded restore records its own share under a name of its own.
    std::string progressKey;
    // Where the items the service refuses are listed: a directory (the report is named after the
    // target and the time) or the report's path. A resumed restore appends to its recorded one.
    std::string failureReport = ".";
    // Another source than the manifest's files in `store`: data files of several backups (a
    // chain's links), in the order written. Positions in the progress record count these.
    std::vector<SourceFile> sources;
    // Which items to write (unset: all): a filter that may learn from the items it was shown
    // (a chain's state takes each key's first version); a resumed run shows it again, without
    // writing, the files written before, so that it decides alike. Items it drops are not counted.
    std::function<bool(const std::string& item)> keep;
    std::int64_t itemsToWrite = -1;  // for the progress line (-1: the manifest's count)
};

// Where a restore of `manifest` into the options' target begins. With `resume`: the record of
// the interrupted restore of this backup into that target, refused when it was into another
// account or of another backup; where nothing was recorded, or the recorded run never got to
// create the target (`targetExists` false), the start. Without: the start, refused where a
// restore of this backup into the target was begun (unless intoExisting) and got as far as
// creating it.
struct RestoreStart {
    RestoreProgress progress;
    bool resumed = false;
};
RestoreStart BeginRestore(const Manifest& manifest, const RestoreItemsOptions& options, bool targetExists);
// Records a new restore's beginning durably (as not having created its target yet): once the
// target may be created (never for a target that existed and was refused) and before it is, so
// that a restore killed at any point after it resumes.
void RecordBeginning(BackupStore& store, RestoreProgress start);

struct RestoredItems {
    std::int64_t written = 0;  // by this run
    std::int64_t skipped = 0;  // written by an earlier, interrupted run
    std::int64_t failed = 0;   // listed in the report, by interrupted runs of this restore as well
    std::int64_t failedBefore = 0;  // of them, by those earlier runs
    std::string reportPath;
    RequestUsage usage;
    double seconds = 0;
};

// Writes the backup's items into the target (which exists) from `start` (BeginRestore's),
// recording durably after each data file (and every few thousand items) how far it has come.
// Items the service refuses are listed in the failure report as they are confirmed (FailureReport.h);
// a restore that stops throws ToolError ending with the command that continues it.
RestoredItems RestoreItemsResumably(Connection& connection, const Manifest& manifest, const RestoreItemsOptions& options,
                                    RestoreProgress start);

// The session token of the writes of the last restore recorded into database/container at
// `endpoint` ("" if none).
std::string RecordedSessionToken(const BackupStore& store, const std::string& endpoint, const std::string& database,
                                 const std::string& container);
// The same for the restore recorded under `progressKey` (a chain's or a subset's own name).
std::string RecordedSessionTokenOf(const BackupStore& store, const std::string& endpoint, const std::string& progressKey);
// The session token of the writes made so far through `connection`.
std::string SessionToken(Connection& connection);
// The name a restore's progress is recorded under.
std::string ProgressKey(const RestoreItemsOptions& options);

}  // namespace cosmosbackup
