#include "service/BackupRead.h"

#include "service/ParallelRangeRead.h"
#include "service/SubRanges.h"
#include "support/Progress.h"
#include "support/ToolError.h"

#include <iostream>

namespace cosmosbackup {
namespace {

BackupCheckpoint NewCheckpoint(const BackupItemsOptions& o, std::vector<nlohmann::json> ranges) {
    BackupCheckpoint checkpoint;
    checkpoint.endpoint = o.endpoint;
    checkpoint.database = o.database;
    checkpoint.container = o.container;
    checkpoint.createdAt = o.createdAt;
    checkpoint.pageSize = o.pageSize;
    checkpoint.itemsPerFile = o.itemsPerFile;
    checkpoint.ranges = std::move(ranges);
    return checkpoint;
}

// The parts a new backup reads, with their readers when these have read ahead already.
struct ReadPlan {
    std::vector<nlohmann::json> parts;
    RangeReaders readers;
    std::exception_ptr failure;  // of the first pages: thrown once the whole ranges are recorded
};

ReadPlan PlanNewRead(Connection& connection, const BackupItemsOptions& o, const RangeReadSettings& settings) {
    ReadPlan plan;
    if (!o.ranges.empty()) {
        plan.parts = o.ranges;
    } else if (!o.currentRanges.empty()) {
        for (const auto& r : o.currentRanges) {
            plan.parts.push_back({{"id", r.at("id")}, {"minInclusive", r.at("minInclusive")}, {"maxExclusive", r.at("maxExclusive")}});
        }
    } else {
        plan.parts = connection.PartitionKeyRanges();
    }
    if (!o.ranges.empty()) return plan;  // change feed parts are read as they are
    auto parts = PlanSubRanges(plan.parts, o.parallelism, o.partitionKey);
    if (parts.size() == plan.parts.size()) return plan;
    auto readers = MakeRangeReaders(settings, parts, nullptr);
    const auto verdict = ProbeSubRanges(readers, parts);
    if (verdict.failure) {
        plan.failure = verdict.failure;
        return plan;
    }
    switch (verdict.reads) {
        case SubRangeReads::Honoured:
            plan.parts = std::move(parts);
            plan.readers = std::move(readers);
            break;
        case SubRangeReads::Ignored:
            std::cerr << "cosmos-backup: the service does not apply key bounds within a partition key range (it answered "
                         "the same items for different parts); reading whole ranges\n";
            break;
        case SubRangeReads::Refused:
            std::cerr << "cosmos-backup: the service refused reading part of a partition key range (" << verdict.reason
                      << "); reading whole ranges\n";
            break;
        case SubRangeReads::Unconfirmed:
            break;  // too few items for parts to matter
    }
    return plan;
}

}  // namespace

BackupItems BackUpItems(Connection& connection, const BackupItemsOptions& o, std::int64_t expected) {
    RangeReadSettings settings;
    settings.connection = o.connection;
    settings.database = o.database;
    settings.container = o.container;
    settings.store = o.store;
    settings.pageSize = o.pageSize;
    settings.itemsPerFile = o.itemsPerFile;
    settings.resume = o.resume;
    settings.onPage = o.onPage;
    settings.readerSlots = o.readerSlots;

    Progress progress("backup", expected, o.progress);
    BackupCheckpoint checkpoint;
    RangeReaders readers;
    if (o.resume) {
        checkpoint = ReadBackupCheckpoint(*o.store);
        CheckSameSource(checkpoint, o.endpoint, o.database, o.container);
        readers = MakeRangeReaders(settings, checkpoint.ranges, &progress);
    } else {
        auto plan = PlanNewRead(connection, o, settings);
        checkpoint = NewCheckpoint(o, std::move(plan.parts));
        WriteBackupCheckpoint(*o.store, checkpoint);
        // A resumed backup then reads whole ranges, which is right whatever the service does.
        if (plan.failure) std::rethrow_exception(plan.failure);
        readers = plan.readers.empty() ? MakeRangeReaders(settings, checkpoint.ranges, nullptr) : std::move(plan.readers);
    }
    auto read = RunRangeReaders(readers, o.parallelism, progress, o.readerSlots);
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
