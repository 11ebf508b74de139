#include "pipeline/ShardedRestoreFinish.h"

#include "format/RestoreProgress.h"
#include "format/RestoreTarget.h"
#include "format/ShardView.h"
#include "pipeline/RestoreFinalise.h"
#include "pipeline/RestoreTargetSetup.h"
#include "support/ToolError.h"

#include <algorithm>
#include <map>
#include <set>
#include <vector>

namespace cosmosbackup {
namespace {

std::string JoinTexts(const std::vector<std::string>& texts, const std::string& separator) {
    std::string joined;
    for (const auto& t : texts) joined += (joined.empty() ? "" : separator) + t;
    return joined;
}

// The session tokens of several shards' writes, as one list.
std::string JoinTokens(const std::vector<RestoreProgress>& shards) {
    std::set<std::string> tokens;
    for (const auto& s : shards) {
        std::size_t from = 0;
        while (from <= s.sessionToken.size()) {
            const auto comma = s.sessionToken.find(',', from);
            const auto token = s.sessionToken.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
            if (!token.empty()) tokens.insert(token);
            if (comma == std::string::npos) break;
            from = comma + 1;
        }
    }
    std::string joined;
    for (const auto& t : tokens) joined += (joined.empty() ? "" : ",") + t;
    return joined;
}

// Every shard of the restore of this backup into the target, checked done; throws naming the
// shards that are missing or unfinished.
std::vector<RestoreProgress> FinishedShards(const BackupStore& store, const Manifest& manifest, const std::string& target) {
    const std::string prefix = target + " shard ";
    std::map<int, RestoreProgress> shards;
    int count = 0;
    std::vector<std::string> problems;
    for (auto& record : ReadAllRestoreProgress(store)) {
        if (record.target.rfind(prefix, 0) != 0 || record.backupCreatedAt != manifest.createdAt) continue;
        const auto parsed = ParseShard(record.target.substr(prefix.size()), 0);
        if (count != 0 && parsed.count != count) {
            problems.push_back("shard records of " + std::to_string(count) + " and of " + std::to_string(parsed.count) + " shards");
        }
        count = std::max(count, parsed.count);
        shards[parsed.index] = std::move(record);
    }
    if (count == 0) throw ToolError("no shard of a restore of this backup into " + target + " is recorded in " + store.Describe());
    std::vector<std::string> missing;
    std::vector<RestoreProgress> done;
    for (int i = 0; i < count; ++i) {
        const auto found = shards.find(i);
        if (found == shards.end()) missing.push_back(std::to_string(i) + " (never ran)");
        else if (!found->second.finished) missing.push_back(std::to_string(i) + " (unfinished: run its command again)");
        else done.push_back(found->second);
    }
    if (!missing.empty()) problems.push_back("shards of " + std::to_string(count) + " not done: " + JoinTexts(missing, ", "));
    if (!problems.empty()) throw ToolError("cannot finish the restore into " + target + ": " + JoinTexts(problems, "; "));
    return done;
}

}  // namespace

// After every shard: the scripts, the count, and the target's own progress record (so that
// verify reads with the shards' session tokens).
RestoreSummary FinishShardedRestore(Connection& connection, BackupStore& store, const Manifest& manifest, const RestoreOptions& options) {
    RestoreSummary summary;
    summary.database = options.database.empty() ? manifest.sourceDatabase : options.database;
    summary.container = options.container.empty() ? manifest.sourceContainer : options.container;
    const std::string target = summary.database + "/" + summary.container;
    const auto shards = FinishedShards(store, manifest, target);
    RestoreProgress whole;
    whole.endpoint = options.endpoint;
    whole.created = true;
    whole.target = target;
    whole.backupCreatedAt = manifest.createdAt;
    whole.filesDone = manifest.files.size();
    for (const auto& s : shards) whole.itemsDone += s.itemsDone;
    whole.sessionToken = JoinTokens(shards);
    whole.finished = true;

    auto& bridge = connection.bridge();
    connection.Require(bridge.OpenCosmosDBContainer("", summary.database, false, summary.container,
                                                    whole.sessionToken.empty() ? "" : ";sessionToken=" + whole.sessionToken),
                       "cannot open " + target);
    const TargetState state = ReadTarget(connection, target);
    summary.layout = state.layout;
    RestoreTarget run{options.endpoint, target, manifest.createdAt, "", static_cast<int>(shards.size())};
    if (const auto claim = ReadRestoreTarget(store, run)) ConfirmTarget(store, *claim, state.rid, target);
    summary.counted = FinaliseTarget(connection, manifest, summary.database, summary.container, std::nullopt);
    summary.scripts = manifest.scriptCount;
    if (summary.counted != manifest.itemCount) {
        throw ToolError(target + " holds " + std::to_string(summary.counted) + " items after the restore's shards; the backup has " +
                        std::to_string(manifest.itemCount) + " (items a shard could not write are in its failure report)");
    }
    WriteRestoreProgress(store, whole);
    return summary;
}

}  // namespace cosmosbackup
