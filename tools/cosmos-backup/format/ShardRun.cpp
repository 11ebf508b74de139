#include "format/ShardRun.h"

#include "format/BackupClaim.h"
#include "format/DurableFile.h"
#include "support/ToolError.h"
#include "support/UtcTime.h"

#include <nlohmann/json.hpp>

namespace cosmosbackup {
namespace {

constexpr std::size_t kRunRecordLimit = 64u << 10;

nlohmann::json ToJson(const ShardRun& r) {
    return {{"endpoint", r.endpoint}, {"database", r.database}, {"container", r.container}, {"count", r.count},
            {"pageSize", r.pageSize}, {"itemsPerFile", r.itemsPerFile}, {"parent", r.parent}, {"scope", r.scope}, {"startedAt", r.startedAt}};
}

// What differs between two runs, or "" when they are the same run apart from the start.
std::string Difference(const ShardRun& recorded, const ShardRun& mine) {
    if (recorded.endpoint != mine.endpoint || recorded.database != mine.database || recorded.container != mine.container ||
        recorded.scope != mine.scope) {
        const auto what = recorded.container.empty() ? (recorded.database.empty() ? "all databases" : "database " + recorded.database)
                                                     : recorded.database + "/" + recorded.container;
        return "of " + what + recorded.scope + " at " + recorded.endpoint;
    }
    if (recorded.count != mine.count) return "of " + std::to_string(recorded.count) + " shards, not " + std::to_string(mine.count);
    if (recorded.pageSize != mine.pageSize || recorded.itemsPerFile != mine.itemsPerFile) {
        return "with page size " + std::to_string(recorded.pageSize) + " and " + std::to_string(recorded.itemsPerFile) + " items per file";
    }
    if (recorded.parent != mine.parent) {
        return recorded.parent.empty() ? std::string("of a full backup, not an increment")
                                       : "of an increment since another backup (" + recorded.parent + ")";
    }
    return "";
}

}  // namespace

ShardRun ReadShardRun(const BackupStore& location) {
    const auto text = ReadSmallFile(location, kShardRunName, kRunRecordLimit);
    if (!text) throw ToolError(location.Describe() + " holds no " + kShardRunName + ": no sharded backup was begun there");
    try {
        const auto j = nlohmann::json::parse(*text);
        ShardRun r;
        j.at("endpoint").get_to(r.endpoint);
        j.at("database").get_to(r.database);
        j.at("container").get_to(r.container);
        j.at("count").get_to(r.count);
        j.at("pageSize").get_to(r.pageSize);
        j.at("itemsPerFile").get_to(r.itemsPerFile);
        r.parent = j.value("parent", std::string());
        r.scope = j.value("scope", std::string());
        j.at("startedAt").get_to(r.startedAt);
        return r;
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(location.Describe() + "/" + kShardRunName + " is not a run record: " + e.what());
    }
}

ShardRun JoinShardRun(BackupStore& location, ShardRun mine) {
    mine.startedAt = UtcNow();
    if (ClaimRecord(location, kShardRunName, ToJson(mine).dump(1) + "\n")) return mine;
    const ShardRun recorded = ReadShardRun(location);
    const auto difference = Difference(recorded, mine);
    if (!difference.empty()) {
        throw ToolError(location.Describe() + " holds a sharded backup run " + difference + " (begun " + recorded.startedAt +
                        "); give a new location or the same settings");
    }
    return recorded;
}

}  // namespace cosmosbackup
