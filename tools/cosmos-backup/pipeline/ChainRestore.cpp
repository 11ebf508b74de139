#include "pipeline/ChainRestore.h"

#include "chain/ChainLinks.h"
#include "chain/ChainState.h"
#include "chain/KeyDeletion.h"
#include "chain/KeySet.h"
#include "format/RestoreProgress.h"
#include "pipeline/RestoreFinalise.h"
#include "service/RestoreWrite.h"
#include "support/ToolError.h"

namespace cosmosbackup {
namespace {

std::vector<SourceFile> SourcesOf(const std::vector<ChainLink>& chain) {
    std::vector<SourceFile> sources;
    for (const auto& f : StateOrder(chain)) sources.push_back(SourceFile{f.link->store.get(), f.file});
    return sources;
}

}  // namespace

std::string StateRunKey(const std::string& target) { return target + "?chain state"; }

RestoreSummary RestoreChain(Connection& connection, std::shared_ptr<BackupStore> last, const RestoreOptions& options) {
    const auto chain = LoadChain(std::move(last), options.storage);
    CheckChainDataFiles(chain);
    const auto& newest = chain.back();
    RestoreSummary summary;
    summary.database = options.database.empty() ? newest.manifest.sourceDatabase : options.database;
    summary.container = options.container.empty() ? newest.manifest.sourceContainer : options.container;
    const std::string target = summary.database + "/" + summary.container;

    KeySet state = ReadKeyFile(*newest.store, newest.record.keys);  // checked whole before the first write
    // A new container holds nothing the chain deleted; an existing one may hold items of the source.
    const KeySet deleted = options.intoExisting ? DeletedSinceBase(chain, state) : KeySet();
    ChainStateFilter filter(std::move(state), newest.manifest.partitionKey);

    RestoreItemsOptions items = RunWriteSettings(*newest.store, options, summary.database, summary.container);
    items.progressKey = StateRunKey(target);
    items.sources = SourcesOf(chain);
    items.keep = [&filter](const std::string& item) { return filter.Keep(item); };
    items.itemsToWrite = static_cast<std::int64_t>(filter.stateSize());
    PrepareAndWrite(connection, *newest.store, newest.manifest, options, items, summary);
    summary.deleted = DeleteKeys(connection, deleted, target, options.parallelism, "the items the chain lists as deleted");

    summary.counted = FinaliseTarget(connection, newest.manifest, summary.database, summary.container, SessionToken(connection));
    summary.scripts = newest.manifest.scriptCount;
    if (summary.counted != newest.record.keys.items && summary.failed == 0) {
        throw ToolError(target + " holds " + std::to_string(summary.counted) + " items after restoring the chain; the chain describes " +
                        std::to_string(newest.record.keys.items));
    }
    summary.links = static_cast<int>(chain.size());
    return summary;
}

}  // namespace cosmosbackup
