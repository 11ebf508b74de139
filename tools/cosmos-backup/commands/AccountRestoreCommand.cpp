#include "account/AccountManifest.h"
#include "account/ContainerPool.h"
#include "commands/AccountCommand.h"
#include "format/RestoreProgress.h"
#include "storage/OpenBackupStore.h"
#include "support/ShellWord.h"
#include "support/ToolError.h"

#include <algorithm>
#include <chrono>
#include <set>

namespace cosmosbackup {
namespace {

// A restore writes this many requests at once into each container; --parallel bounds them all.
constexpr int kWritesPerContainer = 4;

struct Selected {
    const AccountDatabase* database;
    const AccountContainer* container;
    std::string targetDatabase;
};

std::string Target(const Selected& s) { return s.targetDatabase + "/" + s.container->id; }

// For the progress line: the items of every selected container, as the account manifest gives them.
std::int64_t ExpectedItems(const std::vector<Selected>& chosen) {
    std::int64_t items = 0;
    for (const auto& s : chosen) items += s.container->items;
    return items;
}

// The selected containers of a whole backup; the backup's unfinished containers must be left out.
std::vector<Selected> Select(const AccountManifest& m, const Selection& selection, const std::map<std::string, std::string>& map,
                             const std::string& location) {
    std::vector<Selected> chosen;
    std::string unfinished;
    for (const auto& d : m.databases) {
        const auto mapped = map.find(d.id);
        for (const auto& c : d.containers) {
            if (!selection.Covers(d.id, c.id)) continue;
            if (c.status == AccountContainer::kFailed || c.status == AccountContainer::kPending) unfinished += " " + d.id + "/" + c.id;
            chosen.push_back(Selected{&d, &c, mapped == map.end() ? d.id : mapped->second});
        }
    }
    for (const auto& entry : map) {
        if (std::none_of(m.databases.begin(), m.databases.end(), [&](const AccountDatabase& d) { return d.id == entry.first; })) {
            throw ToolError("--database-map names " + entry.first + ", which the backup in " + location + " does not hold");
        }
    }
    if (!unfinished.empty()) {
        throw ToolError("the account backup in " + location + " did not finish these containers:" + unfinished +
                        "; finish it with: cosmos-backup backup --out " + ShellWord(location) +
                        " --resume, or leave them out with --exclude");
    }
    if (chosen.empty()) throw ToolError("no container of the backup in " + location + " is selected");
    std::set<std::string> targets;
    for (const auto& c : chosen) {
        if (!targets.insert(Target(c)).second) throw ToolError("two containers of the backup would be restored into " + Target(c));
    }
    return chosen;
}

std::string AccountRestoreResume(const AccountRestoreOptions& o) {
    std::string command = "cosmos-backup restore --from " + ShellWord(o.single.directory);
    for (const auto& p : o.selection.include) command += " --include " + ShellWord(p);
    for (const auto& p : o.selection.exclude) command += " --exclude " + ShellWord(p);
    for (const auto& m : o.databaseMap) command += " --database-map " + ShellWord(m.first + "=" + m.second);
    return command + " --resume";
}

}  // namespace

RunReport RunAccountRestore(Connection& connection, const ConnectionOptions& co, const std::shared_ptr<BackupStore>& root, const AccountRestoreOptions& o) {
    const auto manifest = ReadAccountManifest(*root, kAccountManifestName);
    const auto chosen = Select(manifest, o.selection, o.databaseMap, o.single.directory);
    RunReport report;
    report.command = "restore";
    report.location = o.single.directory;

    // Before anything is written: the targets that exist already, and the databases to create.
    const auto databases = connection.Databases();
    std::map<std::string, std::set<std::string>> existing;
    for (const auto& db : databases) {
        if (std::any_of(chosen.begin(), chosen.end(), [&](const Selected& s) { return s.targetDatabase == db; })) {
            const auto names = connection.Containers(db);
            existing[db] = std::set<std::string>(names.begin(), names.end());
        }
    }
    std::vector<bool> exists(chosen.size());
    std::string refused;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        exists[i] = existing[chosen[i].targetDatabase].count(chosen[i].container->id) > 0;
        if (exists[i] && chosen[i].container->status != AccountContainer::kDeleted && !o.single.intoExisting && !o.single.resume) {
            refused += " " + Target(chosen[i]);
        }
    }
    if (!refused.empty()) {
        throw ToolError("these containers exist already:" + refused +
                        "; nothing was restored (use --into-existing to restore into existing containers)");
    }
    // Each database once, with its shared throughput unless the options give the containers their own.
    const bool ownThroughput = o.single.throughput > 0 || o.single.autoscaleMax > 0 || o.single.noThroughput;
    std::set<std::string> created;
    for (const auto& s : chosen) {
        if (s.container->status == AccountContainer::kDeleted || !created.insert(s.targetDatabase).second) continue;
        const auto shared = ownThroughput ? std::nullopt : s.database->sharedThroughput;
        connection.Require(connection.bridge().CreateCosmosDBDatabase("", s.targetDatabase, false, "", shared ? shared->manual : 0,
                                                                      shared ? shared->autoscaleMax : 0, false),
                           "cannot create database " + s.targetDatabase);
    }

    report.containers.resize(chosen.size());
    const int parallel = std::max(1, o.single.parallelism);
    const int atOnce = std::max(1, std::min<int>(static_cast<int>(chosen.size()), parallel / kWritesPerContainer));
    Progress whole("restore", 0, o.progressStyle);
    whole.SetExpected(ExpectedItems(chosen));
    const auto errors = RunEachContainer(chosen.size(), static_cast<std::size_t>(atOnce), whole, [&](std::size_t i) {
        const auto& s = chosen[i];
        auto& r = report.containers[i];
        r.source = s.database->id + "/" + s.container->id;
        r.target = Target(s);
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

namespace {

std::vector<Selected> SelectForVerify(const AccountManifest& m, const AccountVerifyOptions& o) {
    return Select(m, o.selection, o.databaseMap, o.single.directory);
}

}  // namespace

RunReport RunAccountVerify(const ConnectionOptions* co, const std::shared_ptr<BackupStore>& root, const AccountVerifyOptions& o) {
    const auto manifest = ReadAccountManifest(*root, kAccountManifestName);
    const auto chosen = SelectForVerify(manifest, o);
    RunReport report;
    report.command = "verify";
    report.location = o.single.directory;
    report.containers.resize(chosen.size());
    Progress whole("verify", 0, o.progressStyle);
    if (!o.single.offline) whole.SetExpected(ExpectedItems(chosen));  // offline, no item is compared
    std::vector<std::vector<std::string>> problems(chosen.size());
    const auto errors = RunEachContainer(chosen.size(), 4, whole, [&](std::size_t i) {
        const auto& s = chosen[i];
        auto& r = report.containers[i];
        r.source = s.database->id + "/" + s.container->id;
        r.target = Target(s);
        if (s.container->status == AccountContainer::kDeleted) return;
        std::shared_ptr<BackupStore> store = root->Below(s.database->location)->Below(s.container->location);
        VerifyOptions single = o.single;
        single.directory = JoinLocation(o.single.directory, AccountManifest::PathOf(*s.database, *s.container));
        single.database = s.targetDatabase;
        single.container = s.container->id;
        single.progress = &whole;
        std::unique_ptr<Connection> own;
        if (!o.single.offline) own = std::make_unique<Connection>(*co);
        const auto started = std::chrono::steady_clock::now();
        const auto summary = VerifyBackup(own.get(), store, single);
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        r.items = summary.backupItems;
        r.problems = summary.problemCount;
        r.usage = summary.usage;
        r.differences = summary.problems;
        problems[i] = summary.problems;
    });
    report.seconds = whole.Finish();
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        auto& r = report.containers[i];
        r.error = errors[i];
        for (const auto& p : problems[i]) r.error += (r.error.empty() ? "" : "; ") + p;
        if (!errors[i].empty()) r.status = "failed";
        else if (chosen[i].container->status == AccountContainer::kDeleted) r.status = "deleted";
        else r.status = r.problems > 0 ? "differs" : "complete";
        if (!errors[i].empty()) report.exitCode = kExitFailed;
        else if (r.problems > 0 && report.exitCode == 0) report.exitCode = kExitDiffers;
    }
    return report;
}

}  // namespace cosmosbackup
