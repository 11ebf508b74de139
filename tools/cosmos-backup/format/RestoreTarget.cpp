#include "format/RestoreTarget.h"

#include "format/DurableFile.h"
#include "format/LocationLayout.h"
#include "support/ToolError.h"

#include <nlohmann/json.hpp>

namespace cosmosbackup {
namespace {

constexpr std::size_t kTargetRecordLimit = 64 * 1024;

std::string TargetRecordText(const RestoreTarget& t) {
    return nlohmann::json{{"endpoint", t.endpoint}, {"run", t.run}, {"backupCreatedAt", t.backupCreatedAt},
                          {"rid", t.rid}, {"shards", t.shards}}.dump() + "\n";
}

}  // namespace

bool ClaimRestoreTarget(BackupStore& store, const RestoreTarget& target) {
    return store.CreateExclusive(RestoreTargetName(target.Identity()), TargetRecordText(target));
}

void WriteRestoreTarget(BackupStore& store, const RestoreTarget& target) {
    WriteFileDurably(store, RestoreTargetName(target.Identity()), TargetRecordText(target));
}

std::optional<RestoreTarget> ReadRestoreTarget(const BackupStore& store, const RestoreTarget& identity) {
    const std::string name = RestoreTargetName(identity.Identity());
    const auto text = ReadSmallFile(store, name, kTargetRecordLimit);
    if (!text) return std::nullopt;
    try {
        const auto j = nlohmann::json::parse(*text);
        RestoreTarget t;
        j.at("endpoint").get_to(t.endpoint);
        j.at("run").get_to(t.run);
        j.at("backupCreatedAt").get_to(t.backupCreatedAt);
        j.at("rid").get_to(t.rid);
        j.at("shards").get_to(t.shards);
        if (t.Identity() != identity.Identity()) return std::nullopt;  // a hash collision: another run's record
        return t;
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(store.Describe() + "/" + name + " is not a valid restore target record: " + e.what());
    }
}

}  // namespace cosmosbackup
