#pragma once

#include "account/AccountReport.h"
#include "account/Selection.h"
#include "pipeline/RestorePipeline.h"
#include "service/Connection.h"
#include "storage/BackupStore.h"
#include "support/Progress.h"

#include <map>
#include <memory>
#include <string>

namespace cosmosbackup {

// restore of an account backup: the selected containers (by their names in the backup), their
// databases renamed by `databaseMap`.
struct AccountRestoreOptions {
    RestoreOptions single;  // from, --parallel (write requests in flight in all), into-existing, resume, throughput
    Selection selection;
    std::map<std::string, std::string> databaseMap;
    Progress::Style progressStyle = Progress::Style::kText;
};

// Restores the selected containers of an account backup (each a full backup or a chain), each
// through the restore pipeline (RestoreBackup): refuses existing targets before anything is
// written unless --into-existing (or --resume), creates each database once with its shared
// throughput, then restores concurrently. `root` is the account backup's location, opened once.
RunReport RunAccountRestore(Connection& connection, const ConnectionOptions& connectionOptions, const std::shared_ptr<BackupStore>& root,
                            const AccountRestoreOptions& options);

}  // namespace cosmosbackup
