#include "repository/Forget.h"

#include "account/AccountManifest.h"
#include "format/WriterLock.h"
#include "support/ToolError.h"

#include <map>
#include <set>

namespace cosmosbackup {
namespace {

// The ids a backup continues: its run's parent and every container's.
std::set<std::string> ParentsOf(const CatalogueBackup& backup) {
    std::set<std::string> parents;
    if (!backup.parent.empty()) parents.insert(backup.parent);
    for (const auto& entry : backup.entries) {
        if (!entry.parent.empty()) parents.insert(entry.parent.substr(0, entry.parent.find('/')));
    }
    return parents;
}

// For each backup the links `from` need (followed through parents), with the first that needs it.
std::map<std::string, std::string> NeededBy(const std::map<std::string, const CatalogueBackup*>& byId, const std::vector<std::string>& from) {
    std::map<std::string, std::string> needed;
    for (const auto& start : from) {
        std::vector<std::string> pending{start};
        while (!pending.empty()) {
            const auto id = pending.back();
            pending.pop_back();
            const auto found = byId.find(id);
            if (found == byId.end()) continue;
            for (const auto& parent : ParentsOf(*found->second)) {
                if (needed.emplace(parent, start).second) pending.push_back(parent);
            }
        }
    }
    return needed;
}

std::string Joined(const std::vector<std::string>& words) {
    std::string text;
    for (const auto& word : words) text += (text.empty() ? "" : ", ") + word;
    return text;
}

// A lock file a restore left, or the directory that holds it, may stay: nothing lists them.
void RemoveLeftover(BackupStore& store, const std::string& name) {
    try {
        store.Remove(name);
    } catch (const ToolError&) {
    }
}

// Removes everything below `store`: the manifests first, then the files, then the sub-locations.
void RemoveAll(BackupStore& store) {
    for (const char* seal : {kAccountManifestName, kManifestName}) store.Remove(seal);
    for (const auto& entry : store.List()) {
        if (entry.plain) {
            store.Remove(entry.name);
            continue;
        }
        RemoveAll(*store.Below(entry.name));
        RemoveLeftover(store, entry.name);
    }
    RemoveLeftover(store, kLockFileName);
}

}  // namespace

std::vector<ForgetDecision> DecideForget(const std::vector<CatalogueBackup>& catalogue, const RetentionPolicy& policy,
                                         const std::string& database, const std::string& container) {
    std::map<std::string, const CatalogueBackup*> byId;
    std::map<std::string, std::vector<RetentionCandidate>> bySource;
    for (const auto& backup : catalogue) {
        if (backup.forgotten) continue;
        byId[backup.id] = &backup;
        if (backup.complete && Matches(backup, database, container)) bySource[backup.sourceKey].push_back({backup.id, backup.time});
    }
    std::map<std::string, ForgetDecision> decisions;
    std::vector<std::string> kept;
    for (const auto& [source, candidates] : bySource) {
        for (const auto& d : ApplyRetention(policy, candidates)) {
            decisions[d.id] = {d.id, byId[d.id]->source, d.keep, d.keep ? Joined(d.reasons) : "no rule keeps it"};
            if (d.keep) kept.push_back(d.id);
        }
    }
    // Every backup not decided on (other sources, unfinished runs) keeps what it needs too.
    for (const auto& [id, backup] : byId) {
        if (decisions.count(id) == 0) kept.push_back(id);
    }
    for (const auto& [id, by] : NeededBy(byId, kept)) {
        auto found = decisions.find(id);
        if (found != decisions.end() && !found->second.keep) found->second = {id, found->second.source, true, "needed by " + by};
    }
    std::vector<ForgetDecision> ordered;
    for (const auto& backup : catalogue) {
        if (backup.forgotten) continue;
        const auto found = decisions.find(backup.id);
        if (found != decisions.end()) ordered.push_back(found->second);
        else if (!backup.complete && Matches(backup, database, container)) ordered.push_back({backup.id, backup.source, true, "unfinished"});
    }
    return ordered;
}

void Forget(Repository& repository, const std::vector<ForgetDecision>& decisions) {
    for (const auto& d : decisions) {
        if (!d.keep) repository.MarkForgotten(d.id, d.why);
    }
}

PruneSummary Prune(Repository& repository) {
    // The locks of every source with a forgotten backup, then the catalogue read again under them:
    // no backup of those sources begins or changes meanwhile.
    std::vector<WriterLocks> held;
    std::set<std::string> sources;
    for (const auto& backup : ReadCatalogue(repository)) {
        // What is left of a backup without a source (its records only) needs no lock.
        if (backup.forgotten && !backup.sourceKey.empty() && sources.insert(backup.sourceKey).second) {
            held.push_back(repository.LockSource(backup.sourceKey));
        }
    }
    const auto catalogue = ReadCatalogue(repository);
    std::map<std::string, const CatalogueBackup*> byId;
    std::vector<std::string> living;
    for (const auto& backup : catalogue) {
        byId[backup.id] = &backup;
        if (!backup.forgotten) living.push_back(backup.id);
    }
    const auto needed = NeededBy(byId, living);
    PruneSummary summary;
    for (const auto& backup : catalogue) {
        if (!backup.forgotten) continue;
        if (needed.count(backup.id) > 0 || (!backup.sourceKey.empty() && sources.count(backup.sourceKey) == 0)) {
            summary.stillNeeded.push_back(backup.id);
            continue;
        }
        for (const auto& locks : held) locks.RequireHeld();
        RemoveAll(*repository.OpenBackup(backup.id));
        RemoveLeftover(repository.Root(), backup.id);
        repository.RemoveRecords(backup.id);
        summary.removed.push_back(backup.id);
    }
    return summary;
}

}  // namespace cosmosbackup
