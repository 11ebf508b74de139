#include "format/RestoreTarget.h"

#include "format/BackupClaim.h"
#include "format/DurableFile.h"
#include "format/LocationLayout.h"
#include "support/ToolError.h"

#include <nlohmann/json.hpp>

namespace cosmosbackup {
namespace {

constexpr std::size_t kTargetRecordLimit = 64 * 1024;

std::string TargetRecordText(const RestoreTarget& t) {
    return nlohmann::json{{"endpoint", t.endpoint}, {"run", t.run}, {"backupCreatedAt", t.backupCreatedAt}, {"shards", t.shards}}.dump() +
           "\n";
}

std::string RidRecordText(const RestoreTarget& t) { return nlohmann::json{{"rid", t.rid}}.dump() + "\n"; }

nlohmann::json ParseRecord(const BackupStore& store, const std::string& name) {
    const auto text = ReadSmallFile(store, name, kTargetRecordLimit);
    if (!text) return nullptr;
    try {
        return nlohmann::json::parse(*text);
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(store.Describe() + "/" + name + " is not a valid restore target record: " + e.what());
    }
}

}  // namespace

bool ClaimRestoreTarget(BackupStore& store, const RestoreTarget& target) {
    return ClaimRecord(store, RestoreTargetName(target.Identity()), TargetRecordText(target));
}

bool NameRestoreTarget(BackupStore& store, const RestoreTarget& target) {
    return ClaimRecord(store, RestoreRidName(target.Identity()), RidRecordText(target));
}

void WriteRestoreTarget(BackupStore& store, const RestoreTarget& target) {
    WriteFileDurably(store, RestoreTargetName(target.Identity()), TargetRecordText(target));
    if (target.rid.empty()) store.Remove(RestoreRidName(target.Identity()));
    else WriteFileDurably(store, RestoreRidName(target.Identity()), RidRecordText(target));
}

std::optional<RestoreTarget> ReadRestoreTarget(const BackupStore& store, const RestoreTarget& identity) {
    const std::string name = RestoreTargetName(identity.Identity());
    const auto j = ParseRecord(store, name);
    if (j.is_null()) return std::nullopt;
    try {
        RestoreTarget t;
        j.at("endpoint").get_to(t.endpoint);
        j.at("run").get_to(t.run);
        j.at("backupCreatedAt").get_to(t.backupCreatedAt);
        j.at("shards").get_to(t.shards);
        if (t.Identity() != identity.Identity()) return std::nullopt;  // a hash collision: another run's record
        const auto rid = ParseRecord(store, RestoreRidName(identity.Identity()));
        if (!rid.is_null()) rid.at("rid").get_to(t.rid);
        return t;
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(store.Describe() + "/" + name + " is not a valid restore target record: " + e.what());
    }
}

}  // namespace cosmosbackup
