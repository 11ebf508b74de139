#pragma once

#include "format/Manifest.h"
#include "pipeline/RestorePipeline.h"

namespace cosmosbackup {

// Whether the options restore part of a backup (--partition-key, --ids).
bool IsSubsetRestore(const RestoreOptions& options);

// The restore pipeline's subset source: the items of options' subset in the state at the backup
// in `store` (a full backup, or the newest link of a chain: each key's newest version, as a
// chain restore takes them), read only from the data files whose key interval can hold one of
// the subset's keys (files without an interval are read whole). Into a new container by default,
// or upserted into an existing one (options.intoExisting); options.replaceSubset then deletes
// the subset's items that the target holds and the state does not, so that the subset is as it
// was. options.dryRun prints what would be written and deleted and touches nothing.
RestoreSummary RestoreSubset(Connection& connection, const std::shared_ptr<BackupStore>& store, const Manifest& manifest,
                             const RestoreOptions& options);

}  // namespace cosmosbackup
