#include "commands/BackupCommand.h"

#include "chain/ChainRecord.h"
#include "chain/KeySet.h"
#include "format/BackupCheckpoint.h"
#include "format/BackupClaim.h"
#include "format/Manifest.h"
#include "service/BackupRead.h"
#include "storage/OpenBackupStore.h"
#include "support/ToolError.h"
#include "support/UtcTime.h"


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
    ClaimLocation(store, options.database, options.container);
}

void ContinuableOnFailure(const BackupOptions& options, const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& e) {
        throw ToolError(std::string(e.what()) + "; what was written is kept: to continue, run: " + ResumeCommand(options));
    }
}

BackupItems ReadBackupItems(Connection& connection, const ConnectionOptions& connectionOptions, const BackupOptions& options,
                            BackupStore& store, std::int64_t expected, std::vector<nlohmann::json> ranges,
                            const nlohmann::json& partitionKey,
                            std::function<void(const std::vector<CloudSDKCppBridge::SString>&)> onPage,
                            std::vector<nlohmann::json> currentRanges) {
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
    read.readerSlots = options.readerSlots;
    read.progress = options.progress;
    return BackUpItems(connection, read, expected);
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

BackupSummary RunBackup(Connection& connection, const ConnectionOptions& connectionOptions, const BackupOptions& given) {
    const auto store = OpenBackupStore(given.directory, given.storage);
    return BackUpContainer(connection, connectionOptions, *store, given);
}

BackupSummary BackUpContainer(Connection& connection, const ConnectionOptions& connectionOptions, BackupStore& location,
                              const BackupOptions& given) {
    BackupStore* const store = &location;
    const BackupOptions options = WithSource(*store, given);
    auto& bridge = connection.bridge();
    connection.Require(bridge.OpenCosmosDBContainer("", options.database, false, options.container, ""),
                       "cannot open " + options.database + "/" + options.container);
    PrepareLocation(*store, options);

    Manifest manifest;
    manifest.sourceEndpoint = connectionOptions.endpoint;
    manifest.sourceDatabase = options.database;
    manifest.sourceContainer = options.container;
    BackupSummary summary;
    summary.source = options.database + "/" + options.container;
    summary.countedBefore = Describe(connection, manifest);
    BackupItems items;
    // The key file is gathered from the pages as they are written; a resumed backup reads back
    // only the files an earlier run sealed.
    KeyGatherer keys(manifest.partitionKey);
    ContinuableOnFailure(options, [&] {
        // Before any item is read, so that the next increment reads every change after it.
        const auto positions = RecordOrRecallPositions(connection, *store, options.resume);
        items = ReadBackupItems(connection, connectionOptions, options, *store, summary.countedBefore, {},
                                manifest.partitionKey, [&keys](const auto& page) { keys.AddPage(page); },
                                // The ranges were just read with their positions: not asked for again.
                                options.resume ? std::vector<nlohmann::json>{} : positions.ranges);
        manifest.createdAt = items.createdAt;
        manifest.files = std::move(items.files);
        for (const auto& f : manifest.files) manifest.itemCount += f.items;
        RecordChainBase(*store, manifest, positions,
                        keys.Take(KeysOfItems(*store, items.filesOfEarlierRuns, manifest.partitionKey)));
        WriteManifest(*store, manifest);
        RemoveBackupCheckpoints(*store);
    });

    Summarise(connection, manifest, items, summary);
    return summary;
}

}  // namespace cosmosbackup
