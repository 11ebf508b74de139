#include "service/BackupRead.h"

#include "service/ParallelRangeRead.h"
#include "support/Progress.h"
#include "support/ToolError.h"

namespace cosmosbackup {

BackupItems BackUpItems(const BackupItemsOptions& o, std::int64_t expected) {
    const auto& checkpoint = o.checkpoint;
    RangeReadSettings settings;
    settings.connection = o.connection;
    settings.database = checkpoint.database;
    settings.container = checkpoint.container;
    settings.store = o.store;
    settings.pageSize = checkpoint.pageSize;
    settings.itemsPerFile = checkpoint.itemsPerFile;
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
