#include "service/BackupRead.h"

#include "service/ParallelRangeRead.h"
#include "support/Progress.h"
#include "support/ToolError.h"

namespace cosmosbackup {
namespace {

BackupCheckpoint StartOrResume(Connection& connection, const BackupItemsOptions& o) {
    if (o.resume) {
        auto checkpoint = ReadBackupCheckpoint(*o.store);
        CheckSameSource(checkpoint, o.endpoint, o.database, o.container);
        return checkpoint;
    }
    BackupCheckpoint checkpoint;
    checkpoint.endpoint = o.endpoint;
    checkpoint.database = o.database;
    checkpoint.container = o.container;
    checkpoint.createdAt = o.createdAt;
    checkpoint.pageSize = o.pageSize;
    checkpoint.itemsPerFile = o.itemsPerFile;
    checkpoint.ranges = o.ranges.empty() ? connection.PartitionKeyRanges() : o.ranges;
    WriteBackupCheckpoint(*o.store, checkpoint);
    return checkpoint;
}

}  // namespace

BackupItems BackUpItems(Connection& connection, const BackupItemsOptions& o, std::int64_t expected) {
    const auto checkpoint = StartOrResume(connection, o);
    RangeReadSettings settings;
    settings.connection = o.connection;
    settings.database = o.database;
    settings.container = o.container;
    settings.store = o.store;
    settings.pageSize = o.pageSize;
    settings.itemsPerFile = o.itemsPerFile;
    settings.readerSlots = o.readerSlots;

    Progress progress("backup", expected, o.progress);
    auto read = ReadRangesInParallel(settings, checkpoint.ranges, o.parallelism, progress);
    BackupItems result;
    result.seconds = progress.Finish();
    result.files = std::move(read.files);
    result.usage = read.usage;
    result.endContinuations = std::move(read.endContinuations);
    result.createdAt = checkpoint.createdAt;
    return result;
}

}  // namespace cosmosbackup
