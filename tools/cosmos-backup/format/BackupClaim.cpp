#include "format/BackupClaim.h"

#include "format/DurableFile.h"
#include "support/ToolError.h"
#include "support/UtcTime.h"

#include <nlohmann/json.hpp>

namespace cosmosbackup {
namespace {

constexpr const char* kClaimName = "checkpoint-claim.json";

// Who holds the claim, for the message: "of DB/CONTAINER, started at TIME", or "" when unreadable.
std::string Holder(const BackupStore& store) {
    try {
        const auto text = ReadSmallFile(store, kClaimName, 64 * 1024);
        if (!text) return {};
        const auto j = nlohmann::json::parse(*text);
        return " (of " + j.at("database").get<std::string>() + "/" + j.at("container").get<std::string>() + ", started at " +
               j.at("startedAt").get<std::string>() + ")";
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace

void ClaimLocation(BackupStore& store, const std::string& database, const std::string& container) {
    const nlohmann::json claim = {{"database", database}, {"container", container}, {"startedAt", UtcNow()}};
    if (store.CreateExclusive(kClaimName, claim.dump() + "\n")) return;
    throw ToolError(store.Describe() + " was taken by another backup" + Holder(store) +
                    " started at the same time; give this backup a new location");
}

}  // namespace cosmosbackup
