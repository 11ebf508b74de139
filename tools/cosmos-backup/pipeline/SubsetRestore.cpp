#include "pipeline/SubsetRestore.h"

#include "chain/ChainLinks.h"
#include "chain/ChainRecord.h"
#include "chain/ChainState.h"
#include "chain/KeyDeletion.h"
#include "chain/Subset.h"
#include "format/DataFiles.h"
#include "pipeline/RestoreFinalise.h"
#include "service/KeySlices.h"
#include "service/RestoreWrite.h"
#include "support/ToolError.h"

#include <optional>

namespace cosmosbackup {
namespace {

Subset SubsetOf(const RestoreOptions& options, const Manifest& manifest) {
    const auto values = ParsePartitionKeys(options.partitionKeys);
    const auto keys = options.idsFile.empty() ? std::vector<nlohmann::json>() : ReadIdsFile(options.idsFile);
    return Subset(values, keys, manifest.partitionKey);
}

// The backups the state is taken from: a chain's links, or the full backup alone.
std::vector<ChainLink> LinksOf(const std::shared_ptr<BackupStore>& store, const Manifest& manifest, const RestoreOptions& options) {
    if (ChainOf(manifest).IsIncrement()) return LoadChain(store, options.storage);
    return {ChainLink{options.directory, store, manifest, ChainOf(manifest)}};
}

// The files that can hold the subset, newest link first, each checked before anything is written.
std::vector<SourceFile> FilesToRead(const std::vector<ChainLink>& links, const Subset& subset, std::int64_t& bytes) {
    std::vector<SourceFile> files;
    for (auto link = links.rbegin(); link != links.rend(); ++link) {
        const Manifest part = FilesOfSubset(link->manifest, subset);
        for (const auto& file : part.files) {
            bytes += file.bytes;
            files.push_back(SourceFile{link->store.get(), file});
        }
        try {
            CheckDataFiles(*link->store, part);
            CheckDataFileContents(*link->store, part);
        } catch (const ToolError& e) {
            throw ToolError("backup " + link->directory + " is damaged: " + e.what());
        }
    }
    return files;
}

// Decides for each item read whether it is written: in the subset and, of a chain, its key's
// version in the state. Gathers the keys it writes.
class SubsetChoice {
public:
    SubsetChoice(const std::vector<ChainLink>& links, const Subset& subset) : m_subset(subset), m_maker(links.back().manifest.partitionKey) {
        if (links.size() > 1) m_state.emplace(ReadKeyFile(*links.back().store, links.back().record.keys), links.back().manifest.partitionKey);
    }
    bool Keep(const std::string& item) {
        const std::string key = m_maker.KeyOfText(item);
        if (!m_subset.HoldsKey(key) || (m_state && !m_state->KeepKey(key))) return false;
        m_kept.Add(key);
        return true;
    }
    KeySet TakeKept() {
        m_kept.Normalise();
        return std::move(m_kept);
    }

private:
    const Subset& m_subset;
    ItemKeyMaker m_maker;
    std::optional<ChainStateFilter> m_state;
    KeySet m_kept;
};

// The subset's keys the target holds now, read in the key intervals of the subset only.
KeySet TargetKeys(Connection& connection, const RestoreOptions& options, const std::string& database, const std::string& container,
                  const Subset& subset, RequestUsage& usage, const std::string& session) {
    connection.Require(connection.bridge().OpenCosmosDBContainer("", database, false, container, session.empty() ? "" : ";sessionToken=" + session),
                       "cannot open " + database + "/" + container);
    LiveKeyRead read;
    read.connection = options.connection;
    read.database = database;
    read.container = container;
    read.parallelism = std::max(1, std::min(options.parallelism, 4));
    if (!subset.intervals().empty()) {
        const auto ranges = connection.PartitionKeyRanges();
        std::vector<ReadPart> parts;
        for (const auto& i : subset.intervals()) {
            for (auto& part : PartsInSlice(ranges, KeySlice{i.minInclusive, i.maxExclusive})) parts.push_back(std::move(part));
        }
        read.parts = parts;
    }
    KeySet held;
    for (const auto& part : ReadLiveKeys(connection, read, usage)) {
        for (const auto key : part) {
            if (subset.HoldsKey(key)) held.Add(key);
        }
    }
    held.Normalise();
    return held;
}

// The target's keys of the subset that the state does not hold.
KeySet Surplus(const KeySet& held, const KeySet& state) {
    KeySet surplus;
    std::size_t j = 0;
    for (const auto key : held) {
        while (j < state.size() && state[j] < key) ++j;
        if (j == state.size() || state[j] != key) surplus.Add(key);
    }
    return surplus;
}

// A backup with a key file says how many items of the subset its state holds: files left out
// by their key intervals must not have held any of them.
void CheckAllFound(const ChainLink& newest, const Subset& subset, std::size_t found) {
    if (newest.record.keys.name.empty()) return;
    std::size_t expected = 0;
    for (const auto key : ReadKeyFile(*newest.store, newest.record.keys)) expected += subset.HoldsKey(key) ? 1 : 0;
    if (expected == found) return;
    throw ToolError("the key file of " + newest.directory + " lists " + std::to_string(expected) + " items of " + subset.Describe() +
                    ", the data files chosen by their key intervals hold " + std::to_string(found) +
                    " (the container's effective partition keys are not computed as the service computes them)");
}

std::vector<std::string> Texts(const KeySet& keys) {
    std::vector<std::string> texts;
    for (const auto key : keys) texts.emplace_back(key);
    return texts;
}

RestoreSummary DryRun(Connection& connection, const std::vector<ChainLink>& links, const std::vector<SourceFile>& files, SubsetChoice& choice, const RestoreOptions& options,
                      RestoreSummary summary, const Subset& subset) {
    for (const auto& f : files) ForEachItemIn(*f.store, f.file, [&](const std::string& item) { choice.Keep(item); });
    const KeySet written = choice.TakeKept();
    CheckAllFound(links.back(), subset, written.size());
    summary.dryRun = true;
    summary.wouldWrite = Texts(written);
    if (options.replaceSubset) {
        const KeySet surplus = Surplus(TargetKeys(connection, options, summary.database, summary.container, subset, summary.usage, ""), written);
        summary.wouldDelete = Texts(surplus);
    }
    summary.counted = -1;
    return summary;
}

}  // namespace

bool IsSubsetRestore(const RestoreOptions& options) { return !options.partitionKeys.empty() || !options.idsFile.empty(); }

RestoreSummary RestoreSubset(Connection& connection, const std::shared_ptr<BackupStore>& store, const Manifest& manifest,
                             const RestoreOptions& options) {
    if (options.shard || options.finish) throw ToolError("a subset is restored by one process: --shard and --finish restore a whole backup");
    if (options.replaceSubset && !options.intoExisting) throw ToolError("--replace-subset puts a subset back into an existing container: add --into-existing");  // main refuses it first
    const auto links = LinksOf(store, manifest, options);
    const ChainLink& newest = links.back();
    const Subset subset = SubsetOf(options, newest.manifest);
    RestoreSummary summary;
    summary.database = options.database.empty() ? newest.manifest.sourceDatabase : options.database;
    summary.container = options.container.empty() ? newest.manifest.sourceContainer : options.container;
    summary.links = static_cast<int>(links.size());
    const std::vector<SourceFile> files = FilesToRead(links, subset, summary.bytesRead);
    summary.filesRead = static_cast<std::int64_t>(files.size());
    SubsetChoice choice(links, subset);
    if (options.dryRun) return DryRun(connection, links, files, choice, options, summary, subset);

    RestoreItemsOptions items = RunWriteSettings(*newest.store, options, summary.database, summary.container);
    // A run of its own: never a whole restore's record, nor another subset's.
    items.progressKey = summary.database + "/" + summary.container + "?subset " + subset.Describe();
    items.sources = files;
    items.keep = [&choice](const std::string& item) { return choice.Keep(item); };
    PrepareAndWrite(connection, *newest.store, newest.manifest, options, items, summary);
    const KeySet written = choice.TakeKept();
    CheckAllFound(newest, subset, written.size());
    const std::string target = summary.database + "/" + summary.container;
    if (options.replaceSubset) {
        const KeySet held = TargetKeys(connection, options, summary.database, summary.container, subset, summary.usage, SessionToken(connection));
        summary.deleted = DeleteKeys(connection, Surplus(held, written), target, options.parallelism, "the items of the subset the backup does not hold");
    }
    // Scripts come with a new container; an existing one keeps its own.
    Manifest scripts = newest.manifest;
    if (options.intoExisting) scripts.scriptCount = 0;
    summary.counted = FinaliseTarget(connection, scripts, summary.database, summary.container, SessionToken(connection));
    summary.scripts = scripts.scriptCount;
    const auto expected = static_cast<long long>(written.size());
    if (!options.intoExisting && summary.failed == 0 && summary.counted != expected) {
        throw ToolError(target + " holds " + std::to_string(summary.counted) + " items after restoring the subset; the backup holds " +
                        std::to_string(expected) + " of it");
    }
    return summary;
}

}  // namespace cosmosbackup
