#include "format/BackupClaim.h"

#include "support/ToolError.h"

namespace cosmosbackup {
namespace {

// Who holds the claim, for the message: " (of DB/CONTAINER, started at TIME)", or "" when unreadable.
std::string Holder(const BackupStore& store) {
    try {
        const auto holder = ReadBackupCheckpoint(store);
        return " (of " + holder.database + "/" + holder.container + ", started at " + holder.createdAt + ")";
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace

bool ClaimRecord(BackupStore& store, const std::string& name, const std::string& content) {
    return store.CreateExclusive(name, content);
}

void ClaimLocation(BackupStore& store, const BackupCheckpoint& record) {
    if (ClaimRecord(store, kCheckpointName, BackupCheckpointText(record))) return;
    throw ToolError(store.Describe() + " was taken by another backup" + Holder(store) +
                    " started at the same time; give this backup a new location");
}

}  // namespace cosmosbackup
