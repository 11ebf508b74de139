#include "commands/BackupCommand.h"

#include "chain/ChainRecord.h"
#include "chain/KeySet.h"
#include "format/BackupCheckpoint.h"
#include "format/DataFileNames.h"
#include "format/DurableFile.h"
#include "format/Manifest.h"
#include "service/BackupRead.h"
#include "service/KeySlices.h"
#include "storage/OpenBackupStore.h"
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

namespace {

std::string ResumeCommand(const BackupOptions& options) {
    // A shard continues where it stopped when its command is run again as it was.
    if (options.shard) return "the same command again (shard " + options.shard->Describe() + " goes on from its checkpoints)";
    return "cosmos-backup backup --database " + options.database + " --container " + options.container + " --out " +
           options.directory + (options.since.empty() ? "" : " --since " + options.since) + " --resume";
}

}  // namespace

void PrepareLocation(BackupStore& store, const BackupOptions& options) {
    bool complete = false;
    for (const auto& file : store.List()) complete = complete || file.name == kManifestName;
    if (options.resume) {
        if (complete) throw ToolError(options.directory + " holds a complete backup; there is nothing to resume");
        if (!HasBackupCheckpoint(store)) {
            throw ToolError(options.directory + " holds no interrupted backup; run the backup without --resume");
        }
        return;
    }
    if (!complete && HasBackupCheckpoint(store)) {
        throw ToolError(options.directory + " holds an interrupted backup; continue it with: " + ResumeCommand(options));
    }
    store.CreateNew();
}

BackupItems ReadBackupItems(Connection& connection, const ConnectionOptions& connectionOptions, const BackupOptions& options,
                            BackupStore& store, std::int64_t expected, std::vector<nlohmann::json> ranges,
                            const nlohmann::json& partitionKey,
                            std::function<void(const std::vector<CloudSDKCppBridge::SString>&)> onPage,
                            std::vector<nlohmann::json> currentRanges, bool sliced) {
    BackupItemsOptions read;
    read.connection = connectionOptions;
    read.endpoint = connectionOptions.endpoint;
    read.database = options.database;
    read.container = options.container;
    read.store = &store;
    read.createdAt = UtcNow();
    read.pageSize = options.pageSize;
    read.itemsPerFile = options.itemsPerFile;
    read.parallelism = options.parallelism;
    read.resume = options.resume;
    read.ranges = std::move(ranges);
    read.partitionKey = partitionKey;
    read.onPage = std::move(onPage);
    read.currentRanges = std::move(currentRanges);
    read.sliced = sliced;
    try {
        return BackUpItems(connection, read, expected);
    } catch (const ToolError& e) {
        throw ToolError(std::string(e.what()) + "; what was read is kept: to continue, run: " + ResumeCommand(options));
    }
}

void Summarise(Connection& connection, const Manifest& manifest, const BackupItems& items, BackupSummary& summary) {
    summary.seconds = items.seconds;
    summary.usage = items.usage;
    summary.usage += ReadUsage(connection);
    summary.items = manifest.itemCount;
    summary.layout = manifest.throughput;
    summary.scripts = manifest.scriptCount;
    summary.files = static_cast<int>(manifest.files.size());
    for (const auto& f : manifest.files) summary.bytes += f.bytes;
    summary.source = manifest.sourceDatabase + "/" + manifest.sourceContainer;
}

// The database and container a backup is of: as given, or for a resumed one its checkpoint's.
BackupOptions WithSource(const BackupStore& store, BackupOptions options) {
    if (options.resume && HasBackupCheckpoint(store)) {
        const auto checkpoint = ReadBackupCheckpoint(store);
        if (options.database.empty()) options.database = checkpoint.database;
        if (options.container.empty()) options.container = checkpoint.container;
    }
    if (options.database.empty() || options.container.empty()) throw ToolError("backup needs --database and --container");
    return options;
}

namespace {

// A new shard joins the shards already in the location only when they are of the same run: the
// same source and settings (their checkpoints) and shard count (their records). Finish checks
// the whole run again; this saves a shard's work that finish would refuse.
void RefuseOtherRuns(const std::shared_ptr<BackupStore>& location, const BackupOptions& options, const std::string& endpoint) {
    for (const auto& file : location->List()) {
        const auto name = file.name;
        int other = -1;
        if (std::sscanf(name.c_str(), "checkpoint-s%4d", &other) == 1 && name == ShardView::LocationName(other, kCheckpointName)) {
            BackupCheckpoint theirs;
            try {
                theirs = ReadBackupCheckpoint(ShardView(location, other));
            } catch (const ToolError&) {
                if (HasBackupCheckpoint(ShardView(location, other))) throw;
                continue;  // that shard finished meanwhile and removed its checkpoints
            }
            if (theirs.endpoint != endpoint || theirs.database != options.database || theirs.container != options.container ||
                theirs.pageSize != options.pageSize || theirs.itemsPerFile != options.itemsPerFile) {
                throw ToolError(location->Describe() + " holds shard " + std::to_string(other) + " of another run (of " + theirs.database +
                                "/" + theirs.container + ", page size " + std::to_string(theirs.pageSize) + ", " +
                                std::to_string(theirs.itemsPerFile) + " items per file); give a new location or the same settings");
            }
        } else if (const auto done = ShardView::RecordOf(name)) {
            const auto text = ReadSmallFile(*location, name, kMaxManifestBytes);
            const auto record = text ? nlohmann::json::parse(*text, nullptr, false) : nlohmann::json();
            const int count = record.is_object() ? record.value("shard", nlohmann::json::object()).value("count", 0) : 0;
            if (count != options.shard->count) {
                throw ToolError(location->Describe() + " holds shard " + std::to_string(*done) + " of a run of " + std::to_string(count) +
                                " shards, not " + std::to_string(options.shard->count) + "; give a new location");
            }
        }
    }
}

// A shard's store and options: its view of the location, resumed when it has begun already.
std::shared_ptr<BackupStore> StoreOf(const BackupOptions& given, BackupOptions& options, const std::string& endpoint) {
    std::shared_ptr<BackupStore> location = OpenBackupStore(given.directory);
    if (!given.shard) return location;
    auto view = std::make_shared<ShardView>(location, given.shard->index);
    if (given.resume) throw ToolError("a shard needs no --resume: the same command goes on from its checkpoints");
    options.resume = HasBackupCheckpoint(*view);
    if (!options.resume && !options.database.empty()) RefuseOtherRuns(location, options, endpoint);
    return view;
}

bool ShardComplete(const BackupStore& view) {
    for (const auto& file : view.List()) {
        if (file.name == kManifestName) return true;
    }
    return false;
}

// A shard's record: its manifest, with what finishing checks the shards against each other.
void WriteShardRecord(BackupStore& view, const Manifest& manifest, const BackupOptions& options, const KeySlice& slice) {
    nlohmann::json record = manifest;
    record["shard"] = {{"index", options.shard->index}, {"count", options.shard->count},
                       {"slice", {{"minInclusive", slice.min}, {"maxExclusive", slice.max}}},
                       {"pageSize", options.pageSize}, {"itemsPerFile", options.itemsPerFile}};
    WriteFileDurably(view, kManifestName, record.dump(1) + "\n");
}

}  // namespace

BackupSummary RunBackup(Connection& connection, const ConnectionOptions& connectionOptions, const BackupOptions& given) {
    BackupOptions resolved = given;
    const auto store = StoreOf(given, resolved, connectionOptions.endpoint);
    BackupSummary summary;
    if (given.shard && ShardComplete(*store)) {
        std::fprintf(stderr, "cosmos-backup: shard %s of %s is complete already; nothing to do\n", given.shard->Describe().c_str(),
                     given.directory.c_str());
        summary.alreadyDone = true;
        return summary;
    }
    const BackupOptions options = WithSource(*store, resolved);
    auto& bridge = connection.bridge();
    connection.Require(bridge.OpenCosmosDBContainer("", options.database, false, options.container, ""),
                       "cannot open " + options.database + "/" + options.container);
    PrepareLocation(*store, options);

    Manifest manifest;
    manifest.sourceEndpoint = connectionOptions.endpoint;
    manifest.sourceDatabase = options.database;
    manifest.sourceContainer = options.container;
    summary.source = options.database + "/" + options.container;
    summary.countedBefore = Describe(connection, manifest);
    // Before any item is read, so that the next increment reads every change after it.
    const auto positions = RecordOrRecallPositions(connection, *store, options.resume);

    // A shard reads the parts of today's ranges that lie in its slice (a resumed one the parts
    // its checkpoint recorded); an unsharded backup the ranges just read with their positions.
    KeySlice slice;
    std::vector<nlohmann::json> parts = positions.ranges;
    if (options.shard) {
        slice = SliceOfKeySpace(manifest.partitionKey, options.shard->index, options.shard->count);
        parts = PartsInSlice(positions.ranges, slice);
        summary.countedBefore = -1;
    }
    // The key file is gathered from the pages as they are written; a resumed backup reads back
    // only the files an earlier run sealed.
    KeyGatherer keys(manifest.partitionKey);
    BackupItems items = ReadBackupItems(connection, connectionOptions, options, *store, summary.countedBefore, {},
                                        manifest.partitionKey, [&keys](const auto& page) { keys.AddPage(page); },
                                        options.resume ? std::vector<nlohmann::json>{} : parts, options.shard.has_value());
    manifest.createdAt = items.createdAt;
    manifest.files = std::move(items.files);
    for (const auto& f : manifest.files) manifest.itemCount += f.items;
    RecordChainBase(*store, manifest, positions,
                    keys.Take(KeysOfItems(*store, items.filesOfEarlierRuns, manifest.partitionKey)));
    if (options.shard) WriteShardRecord(*store, manifest, options, slice);
    else WriteManifest(*store, manifest);
    RemoveBackupCheckpoints(*store);

    Summarise(connection, manifest, items, summary);
    return summary;
}

}  // namespace cosmosbackup
