#include "pipeline/FullBackup.h"

#include "pipeline/BackupSource.h"
#include "pipeline/RunFigures.h"

#include "chain/ChainRecord.h"
#include "chain/KeySet.h"
#include "format/BackupCheckpoint.h"
#include "format/BackupClaim.h"
#include "format/LocationLayout.h"
#include "format/DurableFile.h"
#include "format/Manifest.h"
#include "service/BackupRead.h"
#include "service/KeySlices.h"
#include "storage/UnfinishedWrites.h"
#include "support/ToolError.h"
#include "support/UtcTime.h"

#include <cstdio>


namespace cosmosbackup {

namespace {

nlohmann::json ParseServiceJson(const std::string& text, const std::string& what) {
    try {
        return text.empty() ? nlohmann::json::object() : nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& e) {
        throw ToolError("the service's " + what + " is not JSON: " + e.what());
    }
}

}  // namespace

// One read gives the whole container definition, its throughput layout and the item count (from
// the service's quota figures, else counted); the fields older manifests kept on their own are
// taken from the definition.
Manifest OpenSource(Connection& connection, const std::string& endpoint, const BackupOptions& options) {
    connection.Require(connection.bridge().OpenCosmosDBContainer("", options.database, false, options.container, ""),
                       "cannot open " + options.database + "/" + options.container);
    Manifest manifest;
    manifest.sourceEndpoint = endpoint;
    manifest.sourceDatabase = options.database;
    manifest.sourceContainer = options.container;
    return manifest;
}

long long Describe(Connection& connection, Manifest& manifest) {
    const auto j = connection.ContainerInfo(manifest.sourceDatabase + "/" + manifest.sourceContainer);
    manifest.container = j["container"];
    try {
        j["throughput"].get_to(manifest.throughput);
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(std::string("the wrapper's throughput layout is not readable: ") + e.what());
    }
    const auto& definition = manifest.container;
    manifest.partitionKey = definition.value("partitionKey", nlohmann::json::object());
    manifest.indexingPolicy = definition.value("indexingPolicy", nlohmann::json::object());
    const auto ttl = definition.find("defaultTtl");
    manifest.defaultTtl = ttl != definition.end() && ttl->is_number_integer() ? ttl->get<int>() : 0;
    int scriptCount = 0;
    std::string scripts;
    connection.Require(connection.bridge().BackupAttachedScripts(true, scriptCount, scripts), "cannot read the container's scripts");
    manifest.scripts = ParseServiceJson(scripts, "script list");
    manifest.scriptCount = scriptCount;
    return j.value("itemCount", 0LL);
}

std::string ResumeCommand(const BackupOptions& options) {
    // A shard continues where it stopped when its command is run again as it was.
    if (options.shard) return options.rerun.Again();
    return options.rerun.With({"backup", "--out", options.directory, "--resume"});
}

namespace {

bool Holds(const std::vector<StoredFile>& listed, const std::string& name) {
    for (const auto& file : listed) {
        if (file.name == name) return true;
    }
    return false;
}

// A resumed backup is the recorded one: given options may repeat the record, never contradict it.
void TakeRecordedSettings(const BackupCheckpoint& record, const std::string& endpoint, BackupOptions& options) {
    const auto refuse = [&](const std::string& what) {
        throw ToolError("the interrupted backup in " + options.directory + " " + what + "; to continue it, run: " +
                        ResumeCommand(options));
    };
    if (!options.database.empty() && options.database != record.database) refuse("is of database " + record.database);
    if (!options.container.empty() && options.container != record.container) refuse("is of container " + record.container);
    CheckSameSource(record, endpoint, record.database, record.container);
    if (options.pageSize != 0 && options.pageSize != record.pageSize) refuse("reads pages of " + std::to_string(record.pageSize) + " items");
    if (options.itemsPerFile != 0 && options.itemsPerFile != record.itemsPerFile) {
        refuse("seals files of " + std::to_string(record.itemsPerFile) + " items");
    }
    if (!record.IsIncrement() && !options.since.empty()) refuse("is a full backup, not an increment");
    options.database = record.database;
    options.container = record.container;
    options.pageSize = record.pageSize;
    options.itemsPerFile = record.itemsPerFile;
    if (options.parallelism == 0) options.parallelism = record.parallelism;
}

}  // namespace

BackupStart StartBackup(BackupStore& store, const BackupOptions& given, const std::string& endpoint) {
    BackupStart start{given, std::nullopt, false};
    auto& options = start.options;
    const auto listed = store.List();
    if (Holds(listed, kManifestName)) {
        if (!given.resume) throw ToolError(given.directory + " is not empty: it holds a complete backup; give a new location for the backup");
        const Manifest manifest = ReadManifest(store);
        options.database = manifest.sourceDatabase;
        options.container = manifest.sourceContainer;
        start.complete = true;
        return start;
    }
    if (HasBackupCheckpoint(listed)) {
        if (!given.resume) {
            throw ToolError(given.directory + " holds an interrupted backup; to continue it, run: " + ResumeCommand(given));
        }
        start.recorded = ReadBackupCheckpoint(store);
        TakeRecordedSettings(*start.recorded, endpoint, options);
        return start;
    }
    // Nothing recorded: a new backup, also when --resume was given.
    options.resume = false;
    NameBackupSource(options);
    if (options.pageSize == 0) options.pageSize = kDefaultPageSize;
    if (options.itemsPerFile == 0) options.itemsPerFile = kDefaultItemsPerFile;
    if (options.parallelism == 0) options.parallelism = kDefaultParallelism;
    return start;
}

void PrepareNewLocation(BackupStore& store) {
    const auto listed = store.List();
    bool onlyUnfinished = !listed.empty();
    for (const auto& file : listed) onlyUnfinished = onlyUnfinished && IsUnfinishedWrite(file);
    // A backup killed before its first record left at most a file cut off by the kill.
    if (onlyUnfinished) RemoveUnfinishedWrites(store);
    store.CreateNew();
}

BackupCheckpoint NewBackupRecord(const BackupOptions& options, const std::string& endpoint) {
    BackupCheckpoint record;
    record.endpoint = endpoint;
    record.database = options.database;
    record.container = options.container;
    record.createdAt = UtcNow();
    record.pageSize = options.pageSize;
    record.itemsPerFile = options.itemsPerFile;
    record.parallelism = options.parallelism;
    return record;
}

BackupItemsOptions ReadOptions(const ConnectionOptions& connectionOptions, const BackupOptions& options, BackupStore& store,
                               const BackupCheckpoint& record) {
    BackupItemsOptions read;
    read.connection = connectionOptions;
    read.store = &store;
    read.checkpoint = record;
    read.parallelism = options.parallelism;
    read.readerSlots = options.readerSlots;
    read.progress = options.progress;
    read.sliced = options.shard.has_value();
    return read;
}

BackupItems ReadBackupItems(const ConnectionOptions& connectionOptions, const BackupOptions& options, BackupStore& store,
                            const BackupCheckpoint& record, std::int64_t expected) {
    return BackUpItems(ReadOptions(connectionOptions, options, store, record), expected);
}

ToolError WithResumeHint(const std::exception& failure, const BackupOptions& options) {
    return ToolError(std::string(failure.what()) + "; what was written is kept: to continue, run: " + ResumeCommand(options));
}

ShardSeal ShardSealOf(const BackupOptions& options, const KeySlice& slice, const nlohmann::json& increment) {
    ShardSeal seal;
    seal.index = options.shard->index;
    seal.count = options.shard->count;
    seal.slice = slice;
    seal.pageSize = options.pageSize;
    seal.itemsPerFile = options.itemsPerFile;
    seal.run = options.shardRun;
    seal.increment = increment;
    return seal;
}

// A new shard joins the shards already in the location only when they are of the same run: the
// same source and settings (their checkpoints) and shard count (their records). Finish checks
// the whole run again; this saves a shard's work that finish would refuse.
void RefuseOtherShardRuns(BackupStore& location, const BackupOptions& options, const std::string& endpoint) {
    for (const auto& file : location.List()) {
        const auto name = file.name;
        if (const auto shard = ShardCheckpointOf(name)) {
            const int other = *shard;
            if (other == options.shard->index) continue;
            std::shared_ptr<BackupStore> borrowed(&location, [](BackupStore*) {});
            const ShardView theirView(borrowed, other);
            BackupCheckpoint theirs;
            try {
                theirs = ReadBackupCheckpoint(theirView);
            } catch (const ToolError&) {
                if (HasBackupCheckpoint(theirView.List())) throw;
                continue;  // that shard finished meanwhile and removed its checkpoints
            }
            if (theirs.endpoint != endpoint || theirs.database != options.database || theirs.container != options.container ||
                theirs.pageSize != options.pageSize || theirs.itemsPerFile != options.itemsPerFile) {
                throw ToolError(location.Describe() + " holds shard " + std::to_string(other) + " of another run (of " + theirs.database +
                                "/" + theirs.container + ", page size " + std::to_string(theirs.pageSize) + ", " +
                                std::to_string(theirs.itemsPerFile) + " items per file); give a new location or the same settings");
            }
        } else if (const auto done = ShardRecordOf(name)) {
            const auto text = ReadSmallFile(location, name, kMaxManifestBytes);
            const auto record = text ? nlohmann::json::parse(*text, nullptr, false) : nlohmann::json();
            const int count = record.is_object() ? record.value("shard", nlohmann::json::object()).value("count", 0) : 0;
            if (count != options.shard->count) {
                throw ToolError(location.Describe() + " holds shard " + std::to_string(*done) + " of a run of " + std::to_string(count) +
                                " shards, not " + std::to_string(options.shard->count) + "; give a new location");
            }
        }
    }
}

namespace {

// The figures the manifest gives.
void SummariseManifest(const Manifest& manifest, BackupSummary& summary) {
    summary.items = manifest.itemCount;
    summary.layout = manifest.throughput;
    summary.scripts = manifest.scriptCount;
    summary.files = static_cast<int>(manifest.files.size());
    for (const auto& f : manifest.files) summary.bytes += f.bytes;
    summary.source = manifest.sourceDatabase + "/" + manifest.sourceContainer;
}

}  // namespace

void Summarise(Connection& connection, const Manifest& manifest, const BackupItems& items, BackupSummary& summary) {
    summary.seconds = items.seconds;
    summary.usage = items.usage;
    summary.usage += ReadUsage(connection);
    SummariseManifest(manifest, summary);
}

BackupSummary CompletedBackup(BackupStore& store) {
    // Killed after its manifest was in place: what is left of its checkpoints goes now.
    RemoveBackupCheckpoints(store);
    RemoveUnfinishedWrites(store);
    const Manifest manifest = ReadManifest(store);
    BackupSummary summary;
    SummariseManifest(manifest, summary);
    summary.countedBefore = summary.items;
    summary.alreadyComplete = true;
    return summary;
}

BackupSummary RunBackup(Connection& connection, const ConnectionOptions& connectionOptions, BackupStore& store,
                        const BackupStart& start) {
    const BackupOptions& options = start.options;
    Manifest manifest = OpenSource(connection, connectionOptions.endpoint, options);
    BackupSummary summary;
    summary.source = options.database + "/" + options.container;
    summary.countedBefore = Describe(connection, manifest);
    // A shard reads the parts of today's ranges that lie in its slice (a resumed one the parts
    // its record names); its count is of the whole container, not comparable.
    KeySlice slice;
    if (options.shard) {
        slice = SliceOfKeySpace(manifest.partitionKey, options.shard->index, options.shard->count);
        summary.countedBefore = -1;
    }

    // The key file is gathered from the pages as they are written; a resumed backup reads back
    // only the files an earlier run sealed.
    KeyGatherer keys(manifest.partitionKey);
    BackupCheckpoint record;
    ReadPlan plan;
    if (start.recorded) {
        record = *start.recorded;
    } else {
        PrepareNewLocation(store);
        record = NewBackupRecord(options, connectionOptions.endpoint);
        // Before any item is read, so that the next increment reads every change after it; the
        // ranges come with the positions and are not asked for again.
        const auto positions = ReadChangeFeedPositions(connection);
        record.positions = PositionsJson(positions);
        auto read = ReadOptions(connectionOptions, options, store, record);
        read.onPage = [&keys](const auto& page) { keys.AddPage(page); };
        plan = PlanRead(read, record, options.shard ? PartsInSlice(positions.ranges, slice) : ItemsOfRanges(positions.ranges), manifest.partitionKey);
        record.ranges = plan.parts;
        ClaimLocation(store, record);
    }

    try {
        if (plan.failure) std::rethrow_exception(plan.failure);
        auto read = ReadOptions(connectionOptions, options, store, record);
        read.onPage = [&keys](const auto& page) { keys.AddPage(page); };
        read.readers = &plan.readers;
        BackupItems items = BackUpItems(read, summary.countedBefore);
        manifest.createdAt = items.createdAt;
        manifest.files = std::move(items.files);
        for (const auto& f : manifest.files) manifest.itemCount += f.items;
        auto keySets = KeysOfFiles(store, items.filesOfEarlierRuns, manifest.partitionKey);
        keySets.push_back(keys.Take());
        RecordChainBase(store, manifest, PositionsOf(record.positions), keySets);
        NoteRunFigures(manifest, items, ReadUsage(connection));
        if (options.shard) SealShardRecord(store, manifest, ShardSealOf(options, slice), options.locks);
        else SealManifest(store, manifest, options.locks);
        CleanUpSealed(store);
        Summarise(connection, manifest, items, summary);
    } catch (const std::exception& e) {
        throw WithResumeHint(e, options);
    }
    return summary;
}

}  // namespace cosmosbackup
