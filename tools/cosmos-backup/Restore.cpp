#include "Restore.h"

#include "BackupFiles.h"
#include "Manifest.h"
#include "Progress.h"
#include "ToolError.h"

#include <vector>

namespace cosmosbackup {
namespace {

void CreateTarget(Connection& connection, const Manifest& manifest, const RestoreOptions& options,
                  const RestoreSummary& target) {
    auto& bridge = connection.bridge();
    connection.Require(bridge.CreateCosmosDBDatabase("", target.database, false, "", 0, 0, false),
                       "cannot create database " + target.database);
    CloudSDKCppBridge::CosmosDBThroughput throughput{};
    // The wrapper takes an autoscale maximum as a negative throughput.
    throughput.nValue1 = manifest.autoscaleMaxThroughput > 0 ? -manifest.autoscaleMaxThroughput : manifest.throughput;
    throughput.nValue2 = manifest.defaultTtl;
    connection.Require(bridge.CreateCosmosDBContainer("", target.database, !options.intoExisting, target.container,
                                                      manifest.partitionKey.dump(), manifest.indexingPolicy.dump(),
                                                      throughput, true),
                       "cannot create container " + target.database + "/" + target.container +
                           (options.intoExisting ? "" : " (use --into-existing to restore into an existing one)"));
}

}  // namespace

RestoreSummary RunRestore(Connection& connection, const RestoreOptions& options) {
    const Manifest manifest = ReadManifest(options.directory);
    CheckDataFiles(options.directory, manifest);

    RestoreSummary summary;
    summary.database = options.database.empty() ? manifest.sourceDatabase : options.database;
    summary.container = options.container.empty() ? manifest.sourceContainer : options.container;
    CreateTarget(connection, manifest, options, summary);

    auto& bridge = connection.bridge();
    const std::string target = summary.database + "/" + summary.container;
    connection.Require(bridge.StartCosmosDBRestore(options.parallelism, target), "cannot start restoring into " + target);
    Progress progress("restore", manifest.itemCount);
    std::vector<CloudSDKCppBridge::SString> chunk;
    chunk.reserve(options.itemsPerCall);
    auto send = [&] {
        connection.Require(bridge.AddCosmosDBRestoreItems(chunk),
                           "restore into " + target + " failed after " + std::to_string(summary.items) + " items");
        summary.items += static_cast<std::int64_t>(chunk.size());
        progress.Add(static_cast<std::int64_t>(chunk.size()));
        chunk.clear();
    };
    ForEachItem(options.directory, manifest, [&](const std::string& item) {
        chunk.push_back(CloudSDKCppBridge::SString{item});
        if (chunk.size() >= options.itemsPerCall) send();
    });
    if (!chunk.empty()) send();
    connection.Require(bridge.FlushCosmosDBRestore(), "restore into " + target + " failed");
    summary.seconds = progress.Finish();

    if (manifest.scriptCount > 0) {
        connection.Require(bridge.RestoreAttachedScripts(manifest.scripts.dump(), true),
                           "cannot restore the scripts of " + target);
    }
    summary.scripts = manifest.scriptCount;
    connection.Require(bridge.OpenCosmosDBContainer("", summary.database, false, summary.container, ""),
                       "cannot open " + target + " to count it");
    connection.Require(bridge.CountItems(summary.counted), "cannot count the items of " + target);
    if (summary.counted != manifest.itemCount) {
        throw ToolError(target + " holds " + std::to_string(summary.counted) + " items after the restore; the backup has " +
                        std::to_string(manifest.itemCount));
    }
    return summary;
}

}  // namespace cosmosbackup
