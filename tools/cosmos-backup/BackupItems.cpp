#include "BackupItems.h"

#include "OpenBackupStore.h"
#include "ParallelRead.h"
#include "Progress.h"
#include "ToolError.h"

namespace cosmosbackup {
namespace {

BackupCheckpoint StartOrResume(Connection& connection, const BackupItemsOptions& o) {
    if (o.resume) {
        auto checkpoint = ReadBackupCheckpoint(o.directory);
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
    WriteBackupCheckpoint(o.directory, checkpoint);
    return checkpoint;
}

}  // namespace

BackupItems BackUpItems(Connection& connection, const BackupItemsOptions& o, std::int64_t expected) {
    const auto checkpoint = StartOrResume(connection, o);
    RangeReadSettings settings;
    settings.connection = o.connection;
    settings.database = o.database;
    settings.container = o.container;
    settings.directory = o.directory;
    settings.pageSize = o.pageSize;
    settings.itemsPerFile = o.itemsPerFile;

    Progress progress("backup", expected);
    auto read = ReadRangesInParallel(settings, checkpoint.ranges, o.parallelism, progress);
    BackupItems result;
    result.seconds = progress.Finish();
    result.files = std::move(read.files);
    result.usage = read.usage;
    result.createdAt = checkpoint.createdAt;
    return result;
}

bool HasBackupCheckpoint(const std::string& directory) {
    for (const auto& file : OpenBackupStore(directory)->List()) {
        if (file.name == kCheckpointName && file.plain) return true;
    }
    return false;
}

void RemoveBackupCheckpoints(const std::string& directory) {
    const auto store = OpenBackupStore(directory);
    for (const auto& file : store->List()) {
        const auto& name = file.name;
        const bool json = name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0;
        if (name.rfind("checkpoint", 0) == 0 && json) store->Remove(name);
    }
}

}  // namespace cosmosbackup
