#pragma once

#include "commands/RestoreCommand.h"

namespace cosmosbackup {

// Restores the chain that ends with the incremental backup in `last` (options.directory): the base as
// a full backup, then each increment in order, its changed items (upserts) and then its
// deletions. Every link is checked (present, its manifest's hash as recorded, the same
// container definition, every file intact) before the first write. With options.resume,
// links recorded as restored into the target are skipped and an interrupted one goes on.
// The target then holds the source's items as of the last backup; its count is checked.
RestoreSummary RunChainRestore(Connection& connection, std::shared_ptr<BackupStore> last, const RestoreOptions& options);

}  // namespace cosmosbackup
