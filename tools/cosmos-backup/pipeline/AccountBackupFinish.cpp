#include "account/AccountManifest.h"
#include "account/ContainerPool.h"
#include "format/ShardRun.h"
#include "pipeline/AccountBackup.h"
#include "pipeline/ShardedBackupFinish.h"
#include "support/ToolError.h"
#include "support/UtcTime.h"

#include <mutex>

namespace cosmosbackup {

RunReport FinishShardedAccountBackup(const std::shared_ptr<BackupStore>& root, const std::string& location, const StoreOptions& storage,
                                     Progress::Style progressStyle, const WriterLocks* locks, const RerunCommand& rerun) {
    if (HasFile(*root, kAccountManifestName)) throw ToolError(root->Describe() + " holds a finished account backup already");
    const ShardRun run = ReadShardRun(*root);  // refuses a location where no sharded run began
    AccountManifest plan = ReadAccountManifest(*root, kAccountCheckpointName);
    struct Entry {
        AccountDatabase* database;
        AccountContainer* container;
    };
    std::vector<Entry> entries;
    for (auto& d : plan.databases) {
        for (auto& c : d.containers) entries.push_back({&d, &c});
    }
    RunReport report;
    report.command = "backup";
    report.location = location;
    report.containers.resize(entries.size());
    std::mutex lock;
    Progress whole("backup --finish", 0, progressStyle);
    // A container finished by an earlier finish that stopped short keeps its backup.
    const auto errors = RunEachContainer(entries.size(), 4, whole, [&](std::size_t i) {
        auto& [d, c] = entries[i];
        auto& r = report.containers[i];
        r.source = d->id + "/" + c->id;
        if (c->status == AccountContainer::kDeleted) return;
        const std::shared_ptr<BackupStore> store = root->Below(d->location)->Below(c->location);
        if (!HasFile(*store, kManifestName) && HasFile(*store, kContainerDeletedName)) {
            c->status = AccountContainer::kDeleted;  // a shard found it deleted: it ends as deleted
            return;
        }
        FinishShardedBackup(store, JoinLocation(location, AccountManifest::PathOf(*d, *c)), storage, locks);
        const Manifest manifest = ReadManifest(*store);
        DescribeFinished(manifest, *c, r);
        std::lock_guard<std::mutex> hold(lock);
        NoteSharedThroughput(*d, manifest.throughput);
    });
    report.seconds = whole.Finish();

    plan.complete = true;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        auto& c = *entries[i].container;
        auto& r = report.containers[i];
        if (c.status != AccountContainer::kDeleted) c.status = errors[i].empty() ? AccountContainer::kComplete : AccountContainer::kFailed;
        plan.complete = plan.complete && c.status != AccountContainer::kFailed;
        r.status = c.status;
        r.error = errors[i];
    }
    if (!plan.complete) {
        // Nothing is written for the account until every container's shards are there.
        report.exitCode = kExitFailed;
        report.resumeCommand = "each unfinished shard's command of the " + std::to_string(run.count) +
                               ", then: " + rerun.Again();
        return report;
    }
    plan.finishedAt = UtcNow();
    if (locks != nullptr) locks->RequireHeld();
    WriteAccountManifest(*root, plan, kAccountManifestName);
    root->Remove(kAccountCheckpointName);
    root->Remove(kShardRunName);
    return report;
}

}  // namespace cosmosbackup
