#include "service/BackupRead.h"

#include "service/ParallelRangeRead.h"
#include "service/SubRanges.h"
#include "support/Progress.h"
#include "support/ToolError.h"

#include <iostream>

namespace cosmosbackup {
namespace {

RangeReadSettings SettingsOf(const BackupItemsOptions& o, const BackupCheckpoint& record, bool resume) {
    RangeReadSettings settings;
    settings.connection = o.connection;
    settings.database = record.database;
    settings.container = record.container;
    settings.store = o.store;
    settings.pageSize = record.pageSize;
    settings.itemsPerFile = record.itemsPerFile;
    settings.readerSlots = o.readerSlots;
    settings.onPage = o.onPage;
    settings.resume = resume;
    return settings;
}

}  // namespace

ReadPlan PlanRead(const BackupItemsOptions& o, const BackupCheckpoint& record, const std::vector<ReadPart>& ranges,
                  const nlohmann::json& partitionKey) {
    ReadPlan plan;
    plan.parts = ranges;
    auto parts = PlanSubRanges(plan.parts, o.parallelism, partitionKey);
    if (parts.size() == plan.parts.size()) return plan;
    auto readers = MakeRangeReaders(SettingsOf(o, record, false), parts, nullptr);
    const auto verdict = ProbeSubRanges(readers, parts);
    if (verdict.failure) {
        // The record then names whole ranges, which a resumed backup reads whatever the service does.
        plan.failure = verdict.failure;
        return plan;
    }
    switch (verdict.reads) {
        case SubRangeReads::Honoured:
            plan.parts = std::move(parts);
            plan.readers = std::move(readers);
            break;
        case SubRangeReads::Ignored:
            if (o.sliced) throw ToolError("the service does not apply key bounds within a partition key range; a shard cannot read its slice alone");
            std::cerr << "cosmos-backup: the service does not apply key bounds within a partition key range (it answered "
                         "the same items for different parts); reading whole ranges\n";
            break;
        case SubRangeReads::Refused:
            if (o.sliced) throw ToolError("the service refused reading part of a partition key range, which a shard needs: " + verdict.reason);
            std::cerr << "cosmos-backup: the service refused reading part of a partition key range (" << verdict.reason
                      << "); reading whole ranges\n";
            break;
        case SubRangeReads::Unconfirmed:
            break;  // too few items for parts to matter
    }
    return plan;
}

BackupItems BackUpItems(const BackupItemsOptions& o, std::int64_t expected) {
    const auto& checkpoint = o.checkpoint;
    Progress progress("backup", expected, o.progress);
    const bool readAhead = o.readers != nullptr && !o.readers->empty();
    RangeReaders made;
    if (!readAhead) made = MakeRangeReaders(SettingsOf(o, checkpoint, true), checkpoint.ranges, &progress);
    auto read = RunRangeReaders(readAhead ? *o.readers : made, o.parallelism, progress, o.readerSlots);
    BackupItems result;
    result.seconds = progress.Finish();
    result.files = std::move(read.files);
    result.filesOfEarlierRuns = std::move(read.filesOfEarlierRuns);
    result.usage = read.usage;
    result.endContinuations = std::move(read.endContinuations);
    result.createdAt = checkpoint.createdAt;
    return result;
}

}  // namespace cosmosbackup
