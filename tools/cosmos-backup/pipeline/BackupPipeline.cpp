#include "pipeline/BackupPipeline.h"

#include "chain/ChainRecord.h"
#include "pipeline/ShardBackup.h"
#include "storage/OpenBackupStore.h"
#include "support/ToolError.h"

namespace cosmosbackup {
namespace {

// A location whose backup is finished already: nothing is read, its figures are reported.
BackupResult Finished(BackupStore& store, const BackupOptions& options) {
    BackupResult result;
    result.options = options;
    result.summary.backup = CompletedBackup(store);
    const ChainRecord chain = ChainOf(ReadManifest(store));
    result.increment = chain.IsIncrement();
    result.summary.keys = chain.keys.items;
    result.summary.keyFileBytes = chain.keys.bytes;
    result.summary.deletions = chain.deletions.items;
    result.summary.chainLength = chain.length;
    return result;
}

}  // namespace

BackupResult BackUp(Connection& connection, const ConnectionOptions& connectionOptions, const std::shared_ptr<BackupStore>& location,
                    const BackupOptions& given) {
    // The parent is opened once per run: by the caller, or else here; the steps below take it.
    BackupOptions options = given;
    if (!options.since.empty() && !options.sinceStore) options.sinceStore = OpenBackupStore(options.since, options.storage);
    BackupResult result;
    if (options.shard) {
        result.options = options;
        result.summary = BackUpShard(connection, connectionOptions, location, options);
        result.increment = result.summary.chainLength > 1;
        return result;
    }
    const BackupStart start = StartBackup(*location, options, connectionOptions.endpoint);
    if (start.complete) return Finished(*location, start.options);
    result.options = start.options;
    if (start.IsIncrement()) {
        if (options.fullOnly) {
            throw ToolError("the interrupted backup in " + options.directory + " is an increment; to continue it, run: " +
                            ResumeCommand(options));
        }
        result.increment = true;
        result.summary = RunIncrementalBackup(connection, connectionOptions, *location, start);
        return result;
    }
    result.summary.backup = RunBackup(connection, connectionOptions, *location, start);
    result.summary.chainLength = 1;
    return result;
}

}  // namespace cosmosbackup
