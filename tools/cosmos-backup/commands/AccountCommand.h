#pragma once

#include "account/AccountNames.h"
#include "account/AccountReport.h"
#include "account/Selection.h"
#include "pipeline/AccountBackup.h"
#include "commands/VerifyCommand.h"
#include "pipeline/AccountRestore.h"
#include "service/Connection.h"
#include "support/Progress.h"

#include <map>
#include <string>

namespace cosmosbackup {

// verify of an account backup: the selected containers (by their names in the backup), their
// databases renamed by `databaseMap`.
struct AccountVerifyOptions {
    VerifyOptions single;  // from, offline
    Selection selection;
    std::map<std::string, std::string> databaseMap;
    Progress::Style progressStyle = Progress::Style::kText;
};

// Verifies the selected containers of an account backup (their files, and unless offline the
// live containers), concurrently, with a report per container.
RunReport RunAccountVerify(const ConnectionOptions* connectionOptions, const std::shared_ptr<BackupStore>& root, const AccountVerifyOptions& options);

}  // namespace cosmosbackup
