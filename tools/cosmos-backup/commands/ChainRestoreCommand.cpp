#include "commands/ChainRestoreCommand.h"

#include "chain/ChainLinks.h"
#include "chain/KeySet.h"
#include "format/RestoreProgress.h"
#include "service/RestoreWrite.h"
#include "support/ToolError.h"

#include <cstdio>

namespace cosmosbackup {
namespace {

constexpr std::size_t kKeysPerCall = 500;
// The wrapper's restore target suffix that makes the items added keys to delete.
constexpr const char* kDeleteMark = "?delete";

std::string ResumeCommand(const RestoreOptions& o, const RestoreSummary& s) {
    return "cosmos-backup restore --from " + o.directory + " --database " + s.database + " --container " + s.container + " --resume";
}

// Whether a restore of `link` into `target` (or, with the mark, of its deletions) was recorded.
std::optional<RestoreProgress> Recorded(const ChainLink& link, const std::string& target) {
    auto recorded = ReadRestoreProgress(*link.store, target);
    if (recorded && recorded->backupCreatedAt != link.manifest.createdAt) return std::nullopt;
    return recorded;
}

bool Finished(const std::optional<RestoreProgress>& recorded) { return recorded && recorded->finished; }

RestoreSummary RestoreBase(Connection& connection, const ChainLink& base, const RestoreOptions& options, const RestoreSummary& names) {
    // A resumed chain whose base was restored whole goes on with the increments (the target
    // no longer holds the base's count, which a restore of the base would check).
    if (options.resume && Finished(Recorded(base, names.database + "/" + names.container))) return names;
    RestoreOptions o = options;
    o.directory = base.directory;
    o.database = names.database;
    o.container = names.container;
    o.resume = options.resume && Recorded(base, names.database + "/" + names.container).has_value();
    try {
        return RestoreBackup(connection, base.store, o);
    } catch (const ToolError& e) {
        throw ToolError(std::string(e.what()) + " (the base of the chain; to go on with the whole chain, run: " +
                        ResumeCommand(options, names) + ")");
    }
}

// Deletes the keys the increment lists; keys already gone count as deleted.
std::int64_t ApplyDeletions(Connection& connection, const ChainLink& link, const std::string& target, int parallelism) {
    auto& bridge = connection.bridge();
    connection.Require(bridge.StartCosmosDBRestore(parallelism, target + kDeleteMark), "cannot start deleting from " + target);
    const KeySet keys = ReadKeyFile(*link.store, link.record.deletions);
    std::vector<CloudSDKCppBridge::SString> chunk;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        chunk.push_back(CloudSDKCppBridge::SString{keys[i]});
        if (chunk.size() == kKeysPerCall || i + 1 == keys.size()) {
            connection.Require(bridge.AddCosmosDBRestoreItems(chunk), "cannot delete the items " + link.directory + " lists as deleted");
            chunk.clear();
        }
    }
    connection.Require(bridge.FlushCosmosDBRestore(), "cannot delete the items " + link.directory + " lists as deleted");
    RestoreProgress done;
    done.target = target + kDeleteMark;
    done.backupCreatedAt = link.manifest.createdAt;
    done.itemsDone = static_cast<std::int64_t>(keys.size());
    done.finished = true;
    try {
        WriteRestoreProgress(*link.store, done);
    } catch (const ToolError& e) {
        // A read-only backup directory: the restore goes on, a resumed one repeats these deletions.
        std::fprintf(stderr, "note: the deletions of %s cannot be recorded as applied (%s)\n", link.directory.c_str(), e.what());
    }
    return static_cast<std::int64_t>(keys.size());
}

void RestoreIncrement(Connection& connection, const ChainLink& link, const RestoreOptions& options, RestoreSummary& summary) {
    const std::string target = summary.database + "/" + summary.container;
    const auto upserts = Recorded(link, target);
    const auto deletions = Recorded(link, target + kDeleteMark);
    if (options.resume && Finished(upserts) && Finished(deletions)) return;
    if (!(options.resume && Finished(upserts))) {
        RestoreItemsOptions items;
        items.store = link.store.get();
        items.database = summary.database;
        items.container = summary.container;
        items.parallelism = options.parallelism;
        items.itemsPerCall = options.itemsPerCall;
        items.resume = options.resume && upserts.has_value();
        items.progress = options.progress;
        items.resumeCommand = ResumeCommand(options, summary);
        const auto written = RestoreItemsResumably(connection, link.manifest, items);
        summary.items += written.written;
        summary.skipped += written.skipped;
        summary.failed += written.failed;
        if (written.failed > 0) summary.reportPath = written.reportPath;
        summary.usage += written.usage;
        summary.seconds += written.seconds;
    }
    summary.deleted += ApplyDeletions(connection, link, target, options.parallelism);
}

}  // namespace

RestoreSummary RunChainRestore(Connection& connection, std::shared_ptr<BackupStore> last, const RestoreOptions& options) {
    const auto chain = LoadChain(std::move(last), options.storage);
    CheckChainFiles(chain);
    const auto& newest = chain.back();
    RestoreSummary names;
    names.database = options.database.empty() ? newest.manifest.sourceDatabase : options.database;
    names.container = options.container.empty() ? newest.manifest.sourceContainer : options.container;

    RestoreSummary summary = RestoreBase(connection, chain.front(), options, names);
    for (std::size_t i = 1; i < chain.size(); ++i) RestoreIncrement(connection, chain[i], options, summary);

    auto& bridge = connection.bridge();
    const std::string target = summary.database + "/" + summary.container;
    if (newest.manifest.scriptCount > 0) {
        connection.Require(bridge.RestoreAttachedScripts(newest.manifest.scripts.dump(), true), "cannot restore the scripts of " + target);
    }
    summary.scripts = newest.manifest.scriptCount;
    const std::string session = RecordedSessionToken(*newest.store, summary.database, summary.container);
    connection.Require(bridge.OpenCosmosDBContainer("", summary.database, false, summary.container,
                                                    session.empty() ? "" : ";sessionToken=" + session),
                       "cannot open " + target + " to count it");
    connection.Require(bridge.CountItems(summary.counted), "cannot count the items of " + target);
    if (summary.counted != newest.record.keys.items && summary.failed == 0) {
        throw ToolError(target + " holds " + std::to_string(summary.counted) + " items after restoring the chain; the chain describes " +
                        std::to_string(newest.record.keys.items));
    }
    summary.links = static_cast<int>(chain.size());
    return summary;
}

}  // namespace cosmosbackup
