#pragma once

#include "account/AccountNames.h"
#include "account/AccountReport.h"
#include "account/Selection.h"
#include "pipeline/FullBackup.h"
#include "service/Connection.h"
#include "support/Progress.h"
#include "support/RerunCommand.h"

#include <memory>
#include <string>

namespace cosmosbackup {

// backup of many containers: every container of `database`, or of every database, narrowed by
// the selection, each into an ordinary backup of its own below `single.directory`, concurrently.
struct AccountBackupOptions {
    BackupOptions single;   // out, since, resume, page size, items per file, --parallel
    std::string database;   // "" with allDatabases
    bool allDatabases = false;
    Selection selection;
    Progress::Style progressStyle = Progress::Style::kText;
};

// True when `location` holds an account backup, finished or not.
bool IsAccountBackup(const BackupStore& store);

// Backs up the selected containers concurrently: one bound on the range readers of the whole
// run (--parallel), one RU budget (the wrapper's is the process's), one progress line. A
// container that fails does not stop the others; account.json, written last, marks it failed
// and the report holds the command that continues. With single.since (an account backup) each
// container continues its own chain: new and re-created containers get a full backup, deleted
// ones are recorded as deleted. With single.resume, only what is unfinished is done, and the
// containers the selection now leaves out are dropped from the run.
// `root` is the account backup's location, opened once by the caller.
RunReport RunAccountBackup(Connection& connection, const ConnectionOptions& connectionOptions, const std::shared_ptr<BackupStore>& root, const AccountBackupOptions& options);

// Puts a sharded account backup in `root` (the location `location` names) together: each
// container's shards into its backup (ShardedBackupFinish.h), then account.json. A container
// whose shards are missing or foreign is reported failed, and account.json is not written until
// a later finish finds every container whole; containers finished meanwhile stay finished.
// `locks`: the run's, checked before each seal. `rerun` is how this finish was started: run
// again once every shard is complete.
RunReport FinishShardedAccountBackup(const std::shared_ptr<BackupStore>& root, const std::string& location, const StoreOptions& storage,
                                     Progress::Style progressStyle, const WriterLocks* locks, const RerunCommand& rerun);

}  // namespace cosmosbackup
