#pragma once

#include "pipeline/RestorePipeline.h"

namespace cosmosbackup {

// The restore pipeline's chain source. Restores the chain that ends with the incremental backup
// in `last` (options.directory): the base as a full backup, then each increment in order, its changed items (upserts) and then its
// deletions. Every link is checked (present, its manifest's hash as recorded, the same
// container definition, every file intact) before the first write. With options.resume,
// links recorded as restored into the target are skipped and an interrupted one goes on.
// The base goes through the whole pipeline (RestoreBackup) under the chain's own run name; each
// increment's items are written by the same step, then its deletions applied. The target then
// holds the source's items as of the last backup; scripts are restored and its count checked.
RestoreSummary RestoreChain(Connection& connection, std::shared_ptr<BackupStore> last, const RestoreOptions& options);

}  // namespace cosmosbackup
