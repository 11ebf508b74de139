#include "pipeline/ChainRestore.h"

#include "chain/ChainLinks.h"
#include "chain/KeySet.h"
#include "format/RestoreProgress.h"
#include "pipeline/RestoreFinalise.h"
#include "service/RestoreWrite.h"
#include "support/ToolError.h"

#include <cstdio>

namespace cosmosbackup {
namespace {

constexpr std::size_t kKeysPerCall = 500;
// The wrapper's restore target suffix that makes the items added keys to delete.
constexpr const char* kDeleteMark = "?delete";

std::string ResumeCommand(const RestoreOptions& o, const RestoreSummary& s) { return RestoreResumeCommand(o, s.database, s.container); }

// Whether a restore of `link` into `target` at `endpoint` (or, with the mark, of its deletions) was recorded.
std::optional<RestoreProgress> Recorded(const ChainLink& link, const std::string& endpoint, const std::string& target) {
    auto recorded = ReadRestoreProgress(*link.store, target);
    if (recorded && (recorded->backupCreatedAt != link.manifest.createdAt || recorded->endpoint != endpoint)) return std::nullopt;
    return recorded;
}

// What the chain's restore of its base is recorded under in the base's location: the chain's own
// name for the target, never that of a plain restore of the base into the same container.
std::string ChainRunKey(const std::vector<ChainLink>& chain, const std::string& target) {
    return target + "?chain " + chain.back().manifest.createdAt;
}

// A new chain restore refuses a target into which a restore of this chain was begun (it is
// continued with --resume, or started over with --into-existing); a resumed one refuses a record
// of another account.
void CheckEarlierRuns(const std::vector<ChainLink>& chain, const RestoreOptions& options, const RestoreSummary& names) {
    const std::string target = names.database + "/" + names.container;
    for (const auto& link : chain) {
        const std::string upserts = &link == &chain.front() ? ChainRunKey(chain, target) : target;
        for (const auto& name : {upserts, target + kDeleteMark}) {
            const auto recorded = ReadRestoreProgress(*link.store, name);
            // A base restore that stopped before creating the target is the base restore's to judge.
            if (!recorded || recorded->backupCreatedAt != link.manifest.createdAt || !recorded->created) continue;
            if (options.resume && recorded->endpoint != options.endpoint) {
                throw ToolError("the restore recorded for " + target + " in " + link.directory + " was into the account at " +
                                recorded->endpoint + ", not " + options.endpoint + "; restore into this account without --resume");
            }
            if (!options.resume && !options.intoExisting && recorded->endpoint == options.endpoint) {
                throw ToolError("a restore of this chain into " + target + " was begun (--into-existing starts over); to continue it, run: " +
                                ResumeCommand(options, names));
            }
        }
    }
}

bool Finished(const std::optional<RestoreProgress>& recorded) { return recorded && recorded->finished; }


RestoreSummary RestoreBase(Connection& connection, const std::vector<ChainLink>& chain, const RestoreOptions& options,
                           const RestoreSummary& names) {
    const ChainLink& base = chain.front();
    const std::string runKey = ChainRunKey(chain, names.database + "/" + names.container);
    // A resumed chain whose base was restored whole goes on with the increments (the target
    // no longer holds the base's count, which a restore of the base would check).
    if (options.resume && Finished(Recorded(base, options.endpoint, runKey))) return names;
    RestoreOptions o = options;
    o.runKey = runKey;
    o.directory = base.directory;
    o.database = names.database;
    o.container = names.container;
    o.resumeCommand = ResumeCommand(options, names);  // the whole chain's
    return RestoreBackup(connection, base.store, o);
}

// Deletes the keys the increment lists; keys already gone count as deleted.
std::int64_t ApplyDeletions(Connection& connection, const ChainLink& link, const std::string& endpoint, const std::string& target,
                            int parallelism) {
    auto& bridge = connection.bridge();
    connection.Require(bridge.StartCosmosDBRestore(parallelism, target + kDeleteMark), "cannot start deleting from " + target);
    const KeySet keys = ReadKeyFile(*link.store, link.record.deletions);
    std::vector<CloudSDKCppBridge::SString> chunk;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        chunk.push_back(CloudSDKCppBridge::SString{std::string(keys[i])});
        if (chunk.size() == kKeysPerCall || i + 1 == keys.size()) {
            connection.Require(bridge.AddCosmosDBRestoreItems(chunk), "cannot delete the items " + link.directory + " lists as deleted");
            chunk.clear();
        }
    }
    connection.Require(bridge.FlushCosmosDBRestore(), "cannot delete the items " + link.directory + " lists as deleted");
    RestoreProgress done;
    done.endpoint = endpoint;
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
    const auto upserts = Recorded(link, options.endpoint, target);
    const auto deletions = Recorded(link, options.endpoint, target + kDeleteMark);
    if (options.resume && Finished(upserts) && Finished(deletions)) return;
    if (!(options.resume && Finished(upserts))) {
        RestoreItemsOptions items = ItemsOptions(*link.store, options, summary.database, summary.container);
        items.intoExisting = true;  // the container the base was restored into
        items.resumeCommand = ResumeCommand(options, summary);
        const auto written = RestoreItemsResumably(connection, link.manifest, items, BeginRestore(link.manifest, items, true).progress);
        summary.items += written.written;
        summary.skipped += written.skipped;
        summary.failed += written.failed;
        if (written.failed > 0) summary.reportPath = written.reportPath;
        summary.usage += written.usage;
        summary.seconds += written.seconds;
    }
    summary.deleted += ApplyDeletions(connection, link, options.endpoint, target, options.parallelism);
}

}  // namespace

RestoreSummary RestoreChain(Connection& connection, std::shared_ptr<BackupStore> last, const RestoreOptions& options) {
    const auto chain = LoadChain(std::move(last), options.storage);
    CheckChainFiles(chain);
    const auto& newest = chain.back();
    RestoreSummary names;
    names.database = options.database.empty() ? newest.manifest.sourceDatabase : options.database;
    names.container = options.container.empty() ? newest.manifest.sourceContainer : options.container;

    CheckEarlierRuns(chain, options, names);
    RestoreSummary summary = RestoreBase(connection, chain, options, names);
    for (std::size_t i = 1; i < chain.size(); ++i) RestoreIncrement(connection, chain[i], options, summary);

    const std::string session = RecordedSessionToken(*newest.store, options.endpoint, summary.database, summary.container);
    summary.counted = FinaliseTarget(connection, newest.manifest, summary.database, summary.container, session);
    summary.scripts = newest.manifest.scriptCount;
    const std::string target = summary.database + "/" + summary.container;
    if (summary.counted != newest.record.keys.items && summary.failed == 0) {
        throw ToolError(target + " holds " + std::to_string(summary.counted) + " items after restoring the chain; the chain describes " +
                        std::to_string(newest.record.keys.items));
    }
    summary.links = static_cast<int>(chain.size());
    return summary;
}

}  // namespace cosmosbackup
