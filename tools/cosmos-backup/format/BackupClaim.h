#pragma once

#include "storage/BackupStore.h"

#include <string>

namespace cosmosbackup {

// A new backup's first record, checkpoint-claim.json (removed with the other checkpoints once
// the manifest is in place): created only when absent, so that of two backups started at once
// into one location exactly one goes on. Throws ToolError naming the other backup for the one
// that came second. A resumed backup keeps the claim its first run made.
void ClaimLocation(BackupStore& store, const std::string& database, const std::string& container);

}  // namespace cosmosbackup
