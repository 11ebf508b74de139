#include "account/AccountManifest.h"
#include "account/ContainerChoice.h"
#include "account/ContainerPool.h"
#include "commands/AccountCommand.h"

#include <chrono>

namespace cosmosbackup {

RunReport RunAccountVerify(const ConnectionOptions* co, const std::shared_ptr<BackupStore>& root, const AccountVerifyOptions& o) {
    const auto manifest = ReadAccountManifest(*root, kAccountManifestName);
    const auto chosen = ChooseContainers(manifest, o.selection, o.databaseMap, o.single.directory);
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
        r.target = TargetOf(s);
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
