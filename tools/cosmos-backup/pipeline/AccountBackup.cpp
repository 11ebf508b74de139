#include "account/AccountManifest.h"
#include "account/AccountNames.h"
#include "account/ContainerPool.h"
#include "chain/ChainRecord.h"
#include "format/BackupCheckpoint.h"
#include "format/BackupClaim.h"
#include "format/ShardRun.h"
#include "pipeline/AccountBackup.h"
#include "pipeline/BackupPipeline.h"
#include "service/ContainerDefinition.h"
#include "storage/LocationPath.h"
#include "storage/OpenBackupStore.h"
#include "support/Semaphore.h"
#include "support/ShellWord.h"
#include "support/ToolError.h"
#include "support/UtcTime.h"

#include <algorithm>
#include <mutex>
#include <optional>

namespace cosmosbackup {

bool IsAccountBackup(const BackupStore& store) {
    for (const auto& f : store.List()) {
        if (f.name == kAccountManifestName || f.name == kAccountCheckpointName) return true;
    }
    return false;
}

namespace {

const AccountContainer* Find(const AccountManifest& m, const std::string& database, const std::string& container,
                             const AccountDatabase** in = nullptr) {
    for (const auto& d : m.databases) {
        if (d.id != database) continue;
        for (const auto& c : d.containers) {
            if (c.id != container) continue;
            if (in != nullptr) *in = &d;
            return &c;
        }
    }
    return nullptr;
}

AccountContainer Entry(const std::string& id, const std::string& status) {
    AccountContainer c;
    c.id = id;
    c.location = EncodeSegment(id);
    c.status = status;
    return c;
}

// The containers a new run covers, all pending; with a previous backup, those it held that are
// gone now are recorded as deleted.
AccountManifest Plan(Connection& connection, const ConnectionOptions& co, const AccountBackupOptions& o,
                     const AccountManifest* previous) {
    AccountManifest m;
    m.createdAt = UtcNow();
    m.sourceEndpoint = co.endpoint;
    std::vector<std::string> databases = o.allDatabases ? connection.Databases() : std::vector<std::string>{o.database};
    std::sort(databases.begin(), databases.end());
    for (const auto& db : databases) {
        AccountDatabase d;
        d.id = db;
        d.location = EncodeSegment(db);
        auto names = connection.Containers(db);
        std::sort(names.begin(), names.end());
        for (const auto& c : names) {
            if (o.selection.Covers(db, c)) d.containers.push_back(Entry(c, AccountContainer::kPending));
        }
        m.databases.push_back(std::move(d));
    }
    if (previous != nullptr) {
        for (const auto& pd : previous->databases) {
            for (const auto& pc : pd.containers) {
                if (pc.status != AccountContainer::kComplete || !o.selection.Covers(pd.id, pc.id) || Find(m, pd.id, pc.id)) continue;
                auto d = std::find_if(m.databases.begin(), m.databases.end(), [&](const AccountDatabase& x) { return x.id == pd.id; });
                if (d == m.databases.end()) {
                    if (!o.allDatabases) continue;  // another database than the one backed up now
                    AccountDatabase added;
                    added.id = pd.id;
                    added.location = EncodeSegment(pd.id);
                    m.databases.push_back(std::move(added));
                    d = std::prev(m.databases.end());
                }
                d->containers.push_back(Entry(pc.id, AccountContainer::kDeleted));
            }
        }
    }
    m.databases.erase(std::remove_if(m.databases.begin(), m.databases.end(), [](const AccountDatabase& d) { return d.containers.empty(); }),
                      m.databases.end());
    if (m.databases.empty()) throw ToolError("no container of " + (o.allDatabases ? std::string("the account") : o.database) + " is selected");
    return m;
}

AccountManifest Recall(const BackupStore& store, const ConnectionOptions& co) {
    const bool finished = HasFile(store, kAccountManifestName);
    auto m = ReadAccountManifest(store, finished ? kAccountManifestName : kAccountCheckpointName);
    if (m.complete) throw ToolError(store.Describe() + " holds a complete account backup; there is nothing to resume");
    if (m.sourceEndpoint != co.endpoint) throw ToolError(store.Describe() + " is a backup of " + m.sourceEndpoint + ", not of " + co.endpoint);
    return m;
}

// A resume given --include or --exclude: the unfinished containers the selection leaves out now
// are dropped from the run (what their interrupted backups wrote stays where it is); finished
// ones keep their backups, and deleted ones their record.
void DropUnselected(AccountManifest& manifest, const Selection& selection) {
    for (auto& d : manifest.databases) {
        d.containers.erase(std::remove_if(d.containers.begin(), d.containers.end(),
                                          [&](const AccountContainer& c) {
                                              return c.status != AccountContainer::kComplete && c.status != AccountContainer::kDeleted &&
                                                     !selection.Covers(d.id, c.id);
                                          }),
                           d.containers.end());
    }
    manifest.databases.erase(std::remove_if(manifest.databases.begin(), manifest.databases.end(),
                                            [](const AccountDatabase& d) { return d.containers.empty(); }),
                             manifest.databases.end());
    if (manifest.databases.empty()) throw ToolError("no container of the interrupted account backup is selected");
}

// The previous account backup: the one the caller opened (--since), or else opened here, once.
std::shared_ptr<BackupStore> PreviousRoot(const BackupOptions& single, const std::string& location) {
    if (single.sinceStore && location == single.since) return single.sinceStore;
    return OpenBackupStore(location, single.storage);
}

struct Task {
    std::size_t database;
    std::size_t container;
};

// Backs up one container of the plan into its own location: continues an interrupted backup
// there, takes an increment when the previous account backup holds this very container (same
// _rid), else a full backup.
class ContainerBackup {
public:
    ContainerBackup(const ConnectionOptions& co, const AccountBackupOptions& o, BackupStore& root, const std::string& sinceLocation,
                    const AccountManifest* previous, Semaphore& slots, Progress& progress)
        : m_co(co), m_options(o), m_root(root), m_since(sinceLocation), m_previous(previous), m_slots(slots), m_progress(progress) {}

    void Run(AccountDatabase& d, AccountContainer& c, ContainerReport& r) {
        const std::string path = AccountManifest::PathOf(d, c);
        const std::shared_ptr<BackupStore> store = m_root.Below(d.location)->Below(c.location);
        if (HasFile(*store, kManifestName)) return Finished(d, c, r, ReadManifest(*store));  // done by an earlier run

        BackupOptions single = m_options.single;
        single.database = d.id;
        single.container = c.id;
        single.directory = JoinLocation(m_options.single.directory, path);
        single.since.clear();
        single.sinceStore.reset();
        single.resume = HasBackupCheckpoint(*store);
        single.readerSlots = &m_slots;
        single.progress = &m_progress;
        Connection connection(m_co);
        if (!connection.bridge().OpenCosmosDBContainer("", d.id, false, c.id, "") && !ContainerExists(connection, d.id, c.id)) {
            // Deleted since the run began: recorded as deleted, and the run goes on to its end; a
            // shard leaves the finding for finish, which needs no account access.
            c.status = AccountContainer::kDeleted;
            if (single.shard) {
                try {
                    store->CreateNew();
                } catch (const ToolError&) {
                    // Other shards' files are there already: the finding goes beside them.
                }
                ClaimRecord(*store, kContainerDeletedName, nlohmann::json{{"rid", c.rid}}.dump() + "\n");
            }
            return;
        }
        connection.Require(connection.bridge().OpenCosmosDBContainer("", d.id, false, c.id, ""), "cannot open " + d.id + "/" + c.id);
        const std::string planned = c.rid;
        c.rid = connection.ContainerInfo(d.id + "/" + c.id).value("rid", std::string());
        // The shards of a run back up the container the plan names, not a later one of its name.
        if (single.shard && c.rid != planned) {
            throw ToolError(d.id + "/" + c.id + " was deleted and re-created after the sharded run began; back it up on its own");
        }
        if (single.resume && !planned.empty() && c.rid != planned) {
            // Re-created since the run began: what its interrupted backup holds is of a container that
            // is gone (no manifest names it); the new one gets a full backup in this run.
            for (const auto& file : store->List()) {
                if (file.plain) store->Remove(file.name);
            }
            single.resume = false;
        }
        const AccountDatabase* before = nullptr;
        const AccountContainer* previous = m_previous ? Find(*m_previous, d.id, c.id, &before) : nullptr;
        if (previous != nullptr && previous->status == AccountContainer::kComplete && !c.rid.empty() && previous->rid == c.rid) {
            single.since = JoinLocation(m_since, AccountManifest::PathOf(*before, *previous));
        }
        single.fullOnly = single.since.empty();
        const BackupResult done = BackUp(connection, m_co, store, single);
        const auto& s = done.summary;
        c.kind = done.increment ? "incremental" : "full";
        Fill(d, s.backup, r);
        if (single.shard) return;
        if (done.increment) {
            c.items = s.keys;
            r.deletions = s.deletions;
        } else {
            c.items = r.items;
        }
    }

private:
    void Finished(AccountDatabase& d, AccountContainer& c, ContainerReport& r, const Manifest& manifest) {
        DescribeFinished(manifest, c, r);
        NoteDatabaseThroughput(d, manifest.throughput);
    }

    void Fill(AccountDatabase& d, const BackupSummary& s, ContainerReport& r) {
        r.items = s.items;
        r.bytes = s.bytes;
        r.usage = s.usage;
        r.seconds = s.seconds;
        NoteDatabaseThroughput(d, s.layout);
    }

    void NoteDatabaseThroughput(AccountDatabase& d, const ThroughputLayout& layout) {
        std::lock_guard<std::mutex> hold(m_lock);
        NoteSharedThroughput(d, layout);
    }

    const ConnectionOptions& m_co;
    const AccountBackupOptions& m_options;
    BackupStore& m_root;
    std::string m_since;
    const AccountManifest* m_previous;
    Semaphore& m_slots;
    Progress& m_progress;
    std::mutex m_lock;
};

// Backs up the containers of the plan that are not deleted, concurrently (RunAccountBackup);
// fills the report's entries and gives each task's error ("" for one that succeeded).
std::vector<std::string> BackUpPlan(const ConnectionOptions& co, const AccountBackupOptions& o, BackupStore& root,
                                    const std::string& sinceLocation, const AccountManifest* previous, AccountManifest& manifest,
                                    const std::vector<Task>& tasks, RunReport& report) {
    report.containers.resize(tasks.size());
    const int parallel = o.single.parallelism > 0 ? o.single.parallelism : kDefaultParallelism;  // 0: not given
    Semaphore slots(parallel);
    Progress whole("backup", 0, o.progressStyle);
    ContainerBackup backup(co, o, root, sinceLocation, previous, slots, whole);
    auto errors = RunEachContainer(tasks.size(), static_cast<std::size_t>(parallel), whole, [&](std::size_t i) {
        auto& d = manifest.databases[tasks[i].database];
        auto& c = d.containers[tasks[i].container];
        report.containers[i].source = d.id + "/" + c.id;
        if (c.status == AccountContainer::kDeleted) return;
        backup.Run(d, c, report.containers[i]);
    });
    report.seconds = whole.Finish();
    return errors;
}

std::vector<Task> TasksOf(const AccountManifest& manifest) {
    std::vector<Task> tasks;
    for (std::size_t d = 0; d < manifest.databases.size(); ++d) {
        for (std::size_t c = 0; c < manifest.databases[d].containers.size(); ++c) tasks.push_back(Task{d, c});
    }
    return tasks;
}

bool IsRunRecord(const std::string& name) {
    return name.rfind(kShardRunName, 0) == 0 || name.rfind(kAccountCheckpointName, 0) == 0;
}

// Ready for a shard of an account backup: created when absent (several shards may find it so at
// once). Besides the run's records and its containers' locations, nothing may be in it.
void PrepareShardRoot(BackupStore& root) {
    for (const auto& f : root.List()) {
        if (f.name == kAccountManifestName) throw ToolError(root.Describe() + " holds a finished account backup; give a new location");
        if (f.plain && !IsRunRecord(f.name)) {
            throw ToolError(root.Describe() + " holds " + f.name + ", which is no shard's; give a new location for a sharded backup");
        }
    }
    try {
        root.CreateNew();
    } catch (const ToolError&) {
        for (const auto& f : root.List()) {
            if (f.plain && !IsRunRecord(f.name)) throw;
        }
    }
}

// What every shard of a sharded account backup must be given alike.
ShardRun AccountShardRun(const ConnectionOptions& co, const AccountBackupOptions& o) {
    ShardRun run;
    run.endpoint = co.endpoint;
    run.database = o.allDatabases ? "" : o.database;
    run.count = o.single.shard->count;
    run.pageSize = o.single.pageSize > 0 ? o.single.pageSize : kDefaultPageSize;
    run.itemsPerFile = o.single.itemsPerFile > 0 ? o.single.itemsPerFile : kDefaultItemsPerFile;
    run.parent = o.single.since;
    for (const auto& p : o.selection.include) run.scope += " --include " + p;
    for (const auto& p : o.selection.exclude) run.scope += " --exclude " + p;
    return run;
}

// Each planned container's resource id, so that every later step of the run (a shard, a resume)
// knows the incarnation the run began with.
void NoteIncarnations(Connection& connection, AccountManifest& plan) {
    for (auto& d : plan.databases) {
        for (auto& c : d.containers) {
            if (c.status == AccountContainer::kDeleted) continue;
            // One deleted since it was listed is found so by its own backup.
            if (!connection.bridge().OpenCosmosDBContainer("", d.id, false, c.id, "")) continue;
            c.rid = connection.ContainerInfo(d.id + "/" + c.id).value("rid", std::string());
        }
    }
}

// The plan every shard works to: the first shard's, with each container's resource id, so that
// all shards take the same containers, and the same incarnation of each.
AccountManifest SharedPlan(Connection& connection, const ConnectionOptions& co, BackupStore& root, const AccountBackupOptions& o,
                           const AccountManifest* previous) {
    if (!HasFile(root, kAccountCheckpointName)) {
        auto plan = Plan(connection, co, o, previous);
        if (!o.single.since.empty()) plan.since = RelativeLocation(o.single.since, o.single.directory);
        NoteIncarnations(connection, plan);
        if (ClaimAccountLocation(root, plan)) return plan;
    }
    return Recall(root, co);
}

// One shard of an account backup: its slice of every container of the shared plan, each into
// the shard's files of that container's location. Writes no account.json: finishing does.
RunReport RunAccountShard(Connection& connection, const ConnectionOptions& co, const std::shared_ptr<BackupStore>& root,
                          const AccountBackupOptions& o) {
    RunReport report;
    report.command = "backup";
    report.location = o.single.directory;
    PrepareShardRoot(*root);
    JoinShardRun(*root, AccountShardRun(co, o));
    std::optional<AccountManifest> previous;
    if (!o.single.since.empty()) previous = ReadAccountManifest(*PreviousRoot(o.single, o.single.since), kAccountManifestName);
    AccountManifest plan = SharedPlan(connection, co, *root, o, previous ? &*previous : nullptr);
    const auto tasks = TasksOf(plan);
    const auto errors = BackUpPlan(co, o, *root, o.single.since, previous ? &*previous : nullptr, plan, tasks, report);
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        const auto& c = plan.databases[tasks[i].database].containers[tasks[i].container];
        auto& r = report.containers[i];
        r.status = c.status == AccountContainer::kDeleted ? c.status : errors[i].empty() ? AccountContainer::kComplete : AccountContainer::kFailed;
        r.kind = c.kind;
        r.error = errors[i];
        if (!errors[i].empty()) {
            report.exitCode = kExitFailed;
            report.resumeCommand = ResumeCommand(o.single);
        }
    }
    return report;
}

}  // namespace

RunReport RunAccountBackup(Connection& connection, const ConnectionOptions& co, const std::shared_ptr<BackupStore>& root, const AccountBackupOptions& o) {
    if (o.single.shard) return RunAccountShard(connection, co, root, o);
    RunReport report;
    report.command = "backup";
    report.location = o.single.directory;
    report.resumeCommand = ResumeCommand(o.single);

    AccountManifest manifest;
    std::optional<AccountManifest> previous;
    std::string sinceLocation;
    if (o.single.resume) {
        manifest = Recall(*root, co);
        DropUnselected(manifest, o.selection);
        if (!manifest.since.empty()) sinceLocation = ResolveLocation(o.single.directory, manifest.since);
    } else {
        sinceLocation = o.single.since;
    }
    if (!sinceLocation.empty()) previous = ReadAccountManifest(*PreviousRoot(o.single, sinceLocation), kAccountManifestName);
    if (!o.single.resume) {
        manifest = Plan(connection, co, o, previous ? &*previous : nullptr);
        NoteIncarnations(connection, manifest);
        if (!sinceLocation.empty()) manifest.since = RelativeLocation(sinceLocation, o.single.directory);
        if (!root->List().empty()) {
            throw ToolError(o.single.directory + " is not empty; give a new location for the backup" +
                            (IsAccountBackup(*root) ? " (or continue the one there with: " + report.resumeCommand + ")" : ""));
        }
        root->CreateNew();
        // The plan is the run's first record and claims the location: of two runs started at
        // once into it, one goes on.
        if (!ClaimAccountLocation(*root, manifest)) {
            throw ToolError(o.single.directory + " was taken by another backup started at the same time; give this backup a new location");
        }
    }

    const auto tasks = TasksOf(manifest);
    const auto errors = BackUpPlan(co, o, *root, sinceLocation, previous ? &*previous : nullptr, manifest, tasks, report);

    manifest.complete = true;
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        auto& c = manifest.databases[tasks[i].database].containers[tasks[i].container];
        auto& r = report.containers[i];
        if (c.status != AccountContainer::kDeleted) {
            c.status = errors[i].empty() ? AccountContainer::kComplete : AccountContainer::kFailed;
            c.error = errors[i];
        }
        manifest.complete = manifest.complete && c.status != AccountContainer::kFailed;
        r.status = c.status;
        r.kind = c.kind;
        r.error = c.error;
    }
    manifest.finishedAt = UtcNow();
    if (o.single.locks != nullptr) o.single.locks->RequireHeld();
    WriteAccountManifest(*root, manifest, kAccountManifestName);
    if (manifest.complete) {
        root->Remove(kAccountCheckpointName);
        report.resumeCommand.clear();
    } else {
        report.exitCode = kExitFailed;
    }
    return report;
}

}  // namespace cosmosbackup
