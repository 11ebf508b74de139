#include "commands/VerifyCommand.h"

#include "chain/ChainLinks.h"
#include "chain/ItemKey.h"
#include "chain/Subset.h"
#include "format/DataFiles.h"
#include "format/Manifest.h"
#include "pipeline/ChainRestore.h"
#include "service/ContainerDefinition.h"
#include "service/RestoreWrite.h"
#include "storage/OpenBackupStore.h"
#include "support/Interruption.h"
#include "support/Progress.h"
#include "support/ToolError.h"

#include <functional>
#include <unordered_map>

namespace cosmosbackup {
namespace {

RequestUsage UsageSince(const RequestUsage& before, const RequestUsage& now) {
    RequestUsage used;
    used.requestCharge = now.requestCharge - before.requestCharge;
    used.requests = now.requests - before.requests;
    used.throttled = now.throttled - before.throttled;
    used.throttleWaitMs = now.throttleWaitMs - before.throttleWaitMs;
    return used;
}

nlohmann::json ParseItem(const std::string& text, const std::string& where) {
    nlohmann::json item;
    try {
        item = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& e) {
        throw ToolError("an item " + where + " is not valid JSON: " + e.what());
    }
    if (!item.is_object()) throw ToolError("an item " + where + " is not a JSON object");
    return item;
}

// Items compare by content: nlohmann keeps object members sorted, so dump() is canonical.
std::size_t ContentHash(const nlohmann::json& item) { return std::hash<std::string>{}(item.dump()); }

// The live container must have every property of the backed-up definition.
void CompareDefinition(Connection& connection, const Manifest& manifest, const std::string& name, VerifySummary& summary) {
    if (!manifest.container.is_object()) return;  // a version 1 backup has no whole definition
    const auto live = connection.ContainerInfo(name)["container"];
    for (const auto& lost : LostProperties(manifest.container, live)) summary.Note("container " + name + ": " + lost);
}

// The options' subset of the backup's items (none: every item).
Subset SubsetOf(const VerifyOptions& options, const Manifest& manifest) {
    const auto values = ParsePartitionKeys(options.partitionKeys);
    return values.empty() ? Subset() : Subset(values, {}, manifest.partitionKey);
}

void CompareWithLive(Connection& connection, const BackupStore& store, const VerifyOptions& options, const Manifest& manifest,
                     const Subset& subset, std::unordered_map<std::string, std::size_t>& backup, VerifySummary& summary) {
    auto& bridge = connection.bridge();
    const RequestUsage before = ReadUsage(connection);
    const std::string database = options.database.empty() ? manifest.sourceDatabase : options.database;
    const std::string container = options.container.empty() ? manifest.sourceContainer : options.container;
    // After a restore, reads must see its writes (on a session-consistency account they need
    // the session token the restore recorded).
    std::string session = RecordedSessionToken(store, options.endpoint, database, container);
    if (session.empty()) session = RecordedSessionTokenOf(store, options.endpoint, StateRunKey(database + "/" + container));
    connection.Require(bridge.OpenCosmosDBContainer("", database, false, container, session.empty() ? "" : ";sessionToken=" + session),
                       "cannot open " + database + "/" + container);
    CompareDefinition(connection, manifest, database + "/" + container, summary);
    const ItemKeyMaker keys(manifest.partitionKey);
    // Of a chain, the whole state it describes, not the last increment's changed items.
    Progress progress("verify", static_cast<std::int64_t>(backup.size()), options.progress);
    std::string continuation, next;
    std::vector<CloudSDKCppBridge::SString> page;
    bool more = true;
    while (more) {
        page.clear();
        connection.Require(bridge.GetCosmosDBData(continuation, options.pageSize, next, more, page),
                           "cannot read the items of " + database + "/" + container);
        for (const auto& text : page) {
            const auto item = ParseItem(text.strValue, "of the live container");
            const auto key = keys.KeyOf(item);
            if (!subset.HoldsKey(key)) continue;
            const auto found = backup.find(key);
            if (found == backup.end()) {
                summary.Note("live item " + key + " is not in the backup");
            } else {
                if (found->second == ContentHash(item)) ++summary.equalItems;
                else summary.Note("item " + key + " differs");
                backup.erase(found);
            }
            ++summary.liveItems;
        }
        progress.Add(static_cast<std::int64_t>(page.size()));
        continuation = next;
        StopIfInterrupted(" (a verify records nothing: run it again)");
    }
    progress.Finish();
    for (const auto& missing : backup) summary.Note("backup item " + missing.first + " is not in the live container");
    summary.usage = UsageSince(before, ReadUsage(connection));
}

}  // namespace

void VerifySummary::Note(const std::string& problem) {
    if (problems.size() < maxProblems) problems.push_back(problem);
    ++problemCount;
}

VerifySummary RunVerify(Connection* connection, const VerifyOptions& options) {
    return VerifyBackup(connection, OpenBackupStore(options.directory, options.storage), options);
}

VerifySummary VerifyBackup(Connection* connection, const std::shared_ptr<BackupStore>& store, const VerifyOptions& options) {
    const Manifest manifest = ReadManifest(*store);
    CheckSealedCounts(manifest, store->Describe() + "/" + kManifestName);
    const Subset subset = SubsetOf(options, manifest);
    CheckDataFiles(*store, FilesOfSubset(manifest, subset));

    VerifySummary summary;
    summary.maxProblems = options.maxProblems;
    const ItemKeyMaker keys(manifest.partitionKey);
    std::unordered_map<std::string, std::size_t> backup;
    if (ChainOf(manifest).IsIncrement()) {
        // The state the chain describes: later versions replace earlier ones, deletions remove.
        auto chain = LoadChain(store, options.storage);
        CheckChainFiles(chain);
        for (auto& link : chain) link.manifest = FilesOfSubset(link.manifest, subset);
        ReplayChain(
            chain,
            [&](const std::string& text) {
                const auto item = ParseItem(text, "in the backup");
                const auto key = keys.KeyOf(item);
                if (subset.HoldsKey(key)) backup[key] = ContentHash(item);
            },
            [&](const std::string& key) { backup.erase(key); });
        summary.backupItems = static_cast<std::int64_t>(backup.size());
    } else {
        ForEachItem(*store, FilesOfSubset(manifest, subset), [&](const std::string& text) {
            const auto item = ParseItem(text, "in the backup");
            if (!subset.HoldsKey(keys.KeyOf(item))) return;
            ++summary.backupItems;
            if (!backup.emplace(keys.KeyOf(item), ContentHash(item)).second) {
                summary.Note("item " + keys.KeyOf(item) + " appears twice in the backup");
            }
        });
    }
    if (!options.offline) {
        if (connection == nullptr) throw ToolError("verifying against a live container needs a connection");
        CompareWithLive(*connection, *store, options, manifest, subset, backup, summary);
    }
    return summary;
}

}  // namespace cosmosbackup
