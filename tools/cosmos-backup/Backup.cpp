#include "Backup.h"

#include "BackupItems.h"
#include "Manifest.h"
#include "OpenBackupStore.h"
#include "ToolError.h"

#include <ctime>

namespace cosmosbackup {
namespace {

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

nlohmann::json ParseServiceJson(const std::string& text, const std::string& what) {
    try {
        return text.empty() ? nlohmann::json::object() : nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& e) {
        throw ToolError("the service's " + what + " is not JSON: " + e.what());
    }
}

// The whole container definition and its throughput layout; returns the item count the
// statistics give (from the service's quota figures, else counted).
long long DescribeWhole(Connection& connection, Manifest& manifest) {
    const auto j = connection.ContainerInfo(manifest.sourceDatabase + "/" + manifest.sourceContainer);
    manifest.container = j["container"];
    try {
        j["throughput"].get_to(manifest.throughput);
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(std::string("the wrapper's throughput layout is not readable: ") + e.what());
    }
    return j.value("itemCount", 0LL);
}

// Describes the container into the manifest: partition key, indexing, throughput, TTL, the
// whole definition, scripts. Returns the container's item count.
long long Describe(Connection& connection, Manifest& manifest) {
    auto& bridge = connection.bridge();
    std::string partitionKey, indexing;
    CloudSDKCppBridge::CosmosDBThroughput throughput{};
    connection.Require(bridge.DescribeCosmosDBContainer(partitionKey, throughput, indexing), "cannot describe the container");
    manifest.partitionKey = ParseServiceJson(partitionKey, "partition key definition");
    manifest.indexingPolicy = ParseServiceJson(indexing, "indexing policy");
    manifest.defaultTtl = throughput.nValue2;
    const long long count = DescribeWhole(connection, manifest);
    int scriptCount = 0;
    std::string scripts;
    connection.Require(bridge.BackupAttachedScripts(true, scriptCount, scripts), "cannot read the container's scripts");
    manifest.scripts = ParseServiceJson(scripts, "script list");
    manifest.scriptCount = scriptCount;
    return count;
}

std::string ResumeCommand(const BackupOptions& options) {
    return "cosmos-backup backup --database " + options.database + " --container " + options.container + " --out " +
           options.directory + " --resume";
}

// A new backup needs a new or empty location; a resumed one the checkpoint of an unfinished one.
void PrepareDirectory(const BackupOptions& options) {
    const auto store = OpenBackupStore(options.directory);
    bool complete = false;
    for (const auto& file : store->List()) complete = complete || file.name == kManifestName;
    if (options.resume) {
        if (complete) throw ToolError(options.directory + " holds a complete backup; there is nothing to resume");
        if (!HasBackupCheckpoint(options.directory)) {
            throw ToolError(options.directory + " holds no interrupted backup; run the backup without --resume");
        }
        return;
    }
    if (!complete && HasBackupCheckpoint(options.directory)) {
        throw ToolError(options.directory + " holds an interrupted backup; continue it with: " + ResumeCommand(options));
    }
    store->CreateNew();
}

// The database and container a backup is of: as given, or for a resumed one its checkpoint's.
BackupOptions WithSource(BackupOptions options) {
    if (options.resume && HasBackupCheckpoint(options.directory)) {
        const auto checkpoint = ReadBackupCheckpoint(options.directory);
        if (options.database.empty()) options.database = checkpoint.database;
        if (options.container.empty()) options.container = checkpoint.container;
    }
    if (options.database.empty() || options.container.empty()) throw ToolError("backup needs --database and --container");
    return options;
}

}  // namespace

BackupSummary RunBackup(Connection& connection, const ConnectionOptions& connectionOptions, const BackupOptions& given) {
    const BackupOptions options = WithSource(given);
    auto& bridge = connection.bridge();
    connection.Require(bridge.OpenCosmosDBContainer("", options.database, false, options.container, ""),
                       "cannot open " + options.database + "/" + options.container);
    PrepareDirectory(options);

    Manifest manifest;
    manifest.sourceEndpoint = connectionOptions.endpoint;
    manifest.sourceDatabase = options.database;
    manifest.sourceContainer = options.container;
    BackupSummary summary;
    summary.source = options.database + "/" + options.container;
    summary.countedBefore = Describe(connection, manifest);

    BackupItemsOptions read;
    read.connection = connectionOptions;
    read.endpoint = connectionOptions.endpoint;
    read.database = options.database;
    read.container = options.container;
    read.directory = options.directory;
    read.createdAt = UtcNow();
    read.pageSize = options.pageSize;
    read.itemsPerFile = options.itemsPerFile;
    read.parallelism = options.parallelism;
    read.resume = options.resume;
    BackupItems items;
    try {
        items = BackUpItems(connection, read, summary.countedBefore);
    } catch (const ToolError& e) {
        throw ToolError(std::string(e.what()) + "; what was read is kept: to continue, run: " + ResumeCommand(options));
    }
    manifest.createdAt = items.createdAt;
    manifest.files = std::move(items.files);
    for (const auto& f : manifest.files) manifest.itemCount += f.items;
    WriteManifest(options.directory, manifest);
    RemoveBackupCheckpoints(options.directory);

    summary.seconds = items.seconds;
    summary.usage = items.usage;
    summary.usage += ReadUsage(connection);
    summary.items = manifest.itemCount;
    summary.layout = manifest.throughput;
    summary.scripts = manifest.scriptCount;
    summary.files = static_cast<int>(manifest.files.size());
    for (const auto& f : manifest.files) summary.bytes += f.bytes;
    return summary;
}

}  // namespace cosmosbackup
