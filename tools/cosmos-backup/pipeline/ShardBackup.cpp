#include "pipeline/ShardBackup.h"

#include "chain/ChainRecord.h"
#include "format/ShardRun.h"
#include "format/ShardView.h"

namespace cosmosbackup {

IncrementSummary BackUpShard(Connection& connection, const ConnectionOptions& connectionOptions,
                             const std::shared_ptr<BackupStore>& location, const BackupOptions& given) {
    BackupOptions options = given;
    options.resume = true;
    ShardView view(location, given.shard->index);
    BackupStart start = StartBackup(view, options, connectionOptions.endpoint);
    IncrementSummary summary;
    if (start.complete) {
        summary.backup.alreadyDone = true;
        summary.backup.source = start.options.database + "/" + start.options.container;
        return summary;
    }
    auto& o = start.options;
    if (start.recorded) {
        o.shardRun = ReadShardRun(*location).startedAt;
    } else {
        view.CreateNew();  // the run's record goes into the location, which may not exist yet
        RefuseOtherShardRuns(*location, o, connectionOptions.endpoint);
        const std::string parent = o.since.empty() ? "" : ManifestSha256(*o.sinceStore);
        o.shardRun = JoinShardRun(*location, {connectionOptions.endpoint, o.database, o.container, o.shard->count, o.pageSize,
                                              o.itemsPerFile, parent, "", ""}).startedAt;
    }
    if (start.IsIncrement()) return RunIncrementalBackup(connection, connectionOptions, view, start);
    summary.backup = RunBackup(connection, connectionOptions, view, start);
    summary.chainLength = 1;
    return summary;
}

}  // namespace cosmosbackup
