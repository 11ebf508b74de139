#include "pipeline/AccountRestore.h"

#include "account/AccountNames.h"
#include "account/ContainerChoice.h"
#include "account/ContainerPool.h"
#include "format/RestoreProgress.h"
#include "support/ToolError.h"

#include <algorithm>
#include <set>

namespace cosmosbackup {

namespace {

// A restore writes this many requests at once into each container; --parallel bounds them all.
constexpr int kWritesPerContainer = 4;

std::string AccountRestoreResume(const AccountRestoreOptions& o) {
    std::vector<std::string> arguments{"restore", "--from", o.single.directory};
    for (const auto& p : o.selection.include) arguments.insert(arguments.end(), {"--include", p});
    for (const auto& p : o.selection.exclude) arguments.insert(arguments.end(), {"--exclude", p});
    for (const auto& m : o.databaseMap) arguments.insert(arguments.end(), {"--database-map", m.first + "=" + m.second});
    arguments.emplace_back("--resume");
    return o.single.rerun.With(arguments);
}

// Before anything is written: which targets exist already; refuses them all at once unless the
// options say to write into them (a deleted container is never created, so never refused).
std::vector<bool> ExistingTargets(Connection& connection, const std::vector<ChosenContainer>& chosen, const RestoreOptions& single) {
    std::map<std::string, std::set<std::string>> existing;
    for (const auto& db : connection.Databases()) {
        if (std::any_of(chosen.begin(), chosen.end(), [&](const ChosenContainer& s) { return s.targetDatabase == db; })) {
            const auto names = connection.Containers(db);
            existing[db] = std::set<std::string>(names.begin(), names.end());
        }
    }
    std::vector<bool> exists(chosen.size());
    std::string refused;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        exists[i] = existing[chosen[i].targetDatabase].count(chosen[i].container->id) > 0;
        if (exists[i] && chosen[i].container->status != AccountContainer::kDeleted && !single.intoExisting && !single.resume) {
            refused += " " + TargetOf(chosen[i]);
        }
    }
    if (!refused.empty()) {
        throw ToolError("these containers exist already:" + refused +
                        "; nothing was restored (use --into-existing to restore into existing containers)");
    }
    return exists;
}

// Each database once, with its shared throughput unless the options give the containers their own.
void CreateDatabases(Connection& connection, const std::vector<ChosenContainer>& chosen, const RestoreOptions& single) {
    const bool ownThroughput = single.throughput > 0 || single.autoscaleMax > 0 || single.noThroughput;
    std::set<std::string> created;
    for (const auto& s : chosen) {
        if (s.container->status == AccountContainer::kDeleted || !created.insert(s.targetDatabase).second) continue;
        const auto shared = ownThroughput ? std::nullopt : s.database->sharedThroughput;
        connection.Require(connection.bridge().CreateCosmosDBDatabase("", s.targetDatabase, false, "", shared ? shared->manual : 0,
                                                                      shared ? shared->autoscaleMax : 0, false),
                           "cannot create database " + s.targetDatabase);
    }
}

}  // namespace

RunReport RunAccountRestore(Connection& connection, const ConnectionOptions& co, const std::shared_ptr<BackupStore>& root,
                            const AccountRestoreOptions& o) {
    const auto manifest = ReadAccountManifest(*root, kAccountManifestName);
    const auto chosen = ChooseContainers(manifest, o.selection, o.databaseMap, o.single.directory);
    RunReport report;
    report.command = "restore";
    report.location = o.single.directory;

    const std::vector<bool> exists = ExistingTargets(connection, chosen, o.single);
    CreateDatabases(connection, chosen, o.single);

    report.containers.resize(chosen.size());
    const int parallel = std::max(1, o.single.parallelism);
    const int atOnce = std::max(1, std::min<int>(static_cast<int>(chosen.size()), parallel / kWritesPerContainer));
    Progress whole("restore", 0, o.progressStyle);
    whole.SetExpected(ExpectedItems(chosen));
    const auto errors = RunEachContainer(chosen.size(), static_cast<std::size_t>(atOnce), whole, [&](std::size_t i) {
        const auto& s = chosen[i];
        auto& r = report.containers[i];
        r.source = s.database->id + "/" + s.container->id;
        r.target = TargetOf(s);
        if (s.container->status == AccountContainer::kDeleted) return;  // a deleted container is not created
        const std::string path = AccountManifest::PathOf(*s.database, *s.container);
        std::shared_ptr<BackupStore> store = root->Below(s.database->location)->Below(s.container->location);
        RestoreOptions single = o.single;
        single.directory = JoinLocation(o.single.directory, path);
        single.database = s.targetDatabase;
        single.container = s.container->id;
        single.parallelism = std::max(1, parallel / atOnce);
        single.progress = &whole;
        // A resumed run goes on where a restore was recorded, and starts those that never began.
        single.resume = o.single.resume && exists[i] && ReadRestoreProgress(*store, r.target).has_value();
        single.intoExisting = o.single.intoExisting || (o.single.resume && exists[i]);
        Connection own(co);
        const auto summary = RestoreBackup(own, store, single);
        r.items = summary.items;
        r.failedItems = summary.failed;
        r.deletions = summary.deleted;
        r.usage = summary.usage;
        r.seconds = summary.seconds;
    });
    report.seconds = whole.Finish();
    bool refusedItems = false;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        auto& r = report.containers[i];
        r.error = errors[i];
        r.status = !errors[i].empty() ? "failed" : chosen[i].container->status == AccountContainer::kDeleted ? "deleted" : "complete";
        if (!errors[i].empty()) report.exitCode = kExitFailed;
        refusedItems = refusedItems || r.failedItems > 0;
    }
    if (report.exitCode == kExitFailed) report.resumeCommand = AccountRestoreResume(o);
    else if (refusedItems) report.exitCode = kExitItemsRefused;
    return report;
}

}  // namespace cosmosbackup
