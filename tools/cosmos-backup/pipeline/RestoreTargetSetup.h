#pragma once

#include "format/Manifest.h"
#include "format/RestoreTarget.h"
#include "pipeline/RestorePipeline.h"
#include "service/Connection.h"
#include "service/RestoreWrite.h"
#include "storage/BackupStore.h"

#include <nlohmann/json.hpp>
#include <string>

namespace cosmosbackup {

// The restore pipeline's "prepare the target" step: the run's first record, the container created
// or refused, its `_rid` named or confirmed.

// What the target container is after it was created or found: its definition and layout.
struct TargetState {
    nlohmann::json definition;
    ThroughputLayout layout;
    std::string rid;  // the service's resource id of the container
};

// The container `target` ("database/container") as the service describes it.
TargetState ReadTarget(Connection& connection, const std::string& target);

// The layout a restore gives the target: the backup's, unless the options override it.
ThroughputLayout TargetLayout(const Manifest& manifest, const RestoreOptions& options);

// A run writes only into the container its first record names; the run that created it names it now.
void ConfirmTarget(BackupStore& store, RestoreTarget claim, const std::string& rid, const std::string& target);

// Begins (or takes up) the restore's progress record, claims the run's first record, creates the
// container (or refuses an existing one) and names or confirms its `_rid`; sets summary.layout.
// Returns where writing the items starts.
RestoreStart PrepareTarget(Connection& connection, BackupStore& store, const Manifest& manifest, const RestoreOptions& options,
                           const RestoreItemsOptions& items, RestoreSummary& summary);

}  // namespace cosmosbackup
