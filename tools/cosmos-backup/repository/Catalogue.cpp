#include "repository/Catalogue.h"

#include "account/AccountManifest.h"
#include "chain/ChainRecord.h"
#include "repository/BackupId.h"
#include "storage/LocationPath.h"
#include "support/ToolError.h"

#include <cstdio>
#include <set>
#include <sstream>

namespace cosmosbackup {
namespace {

// A link's recorded relative path as a path below the repository (or the location itself when
// it leads out of the repository).
std::string PathInRepository(const Repository& repository, const std::string& from, const std::string& relative) {
    const std::string resolved = ResolveLocation(repository.LocationOf(from), relative);
    const std::string prefix = repository.LocationOf("");
    return resolved.rfind(prefix, 0) == 0 ? resolved.substr(prefix.size()) : resolved;
}

std::string FirstSegment(const std::string& path) { return path.substr(0, path.find('/')); }

// A chain link's parent as a path of ids: links are recorded as stored (opaque names in an
// encrypted repository); a container of an account run continues the same container.
std::string ParentPath(const Repository& repository, const std::string& path, const std::string& relative) {
    const std::string parent = PathInRepository(repository, path, relative);
    const std::string id = repository.IdOf(FirstSegment(parent));
    const auto below = path.find('/');
    if (id == FirstSegment(parent) && !IsBackupId(id)) return parent;  // outside the repository
    return below == std::string::npos ? id : id + path.substr(below);
}

// A finished container backup's entry figures, from its manifest.
void Describe(const Repository& repository, CatalogueEntry& entry, Manifest manifest) {
    const ChainRecord chain = ChainOf(manifest);
    entry.database = manifest.sourceDatabase;
    entry.container = manifest.sourceContainer;
    entry.kind = chain.IsIncrement() ? "increment" : "full";
    entry.parent = chain.IsIncrement() ? ParentPath(repository, entry.path, chain.parent.path) : "";
    entry.items = chain.IsIncrement() ? chain.keys.items : manifest.itemCount;
    entry.bytes = chain.keys.bytes + chain.deletions.bytes;
    for (const auto& file : manifest.files) entry.bytes += file.bytes;
    entry.complete = true;
    entry.manifest = std::move(manifest);
}

void ReadSingle(const Repository& repository, BackupStore& store, CatalogueBackup& backup) {
    CatalogueEntry entry;
    entry.path = backup.id;
    if (backup.run) {
        entry.database = backup.run->database;
        entry.container = backup.run->container;
        entry.kind = backup.run->parent.empty() ? "full" : "increment";
        entry.parent = backup.run->parent;
        entry.requestCharge = backup.run->requestCharge;
        entry.seconds = backup.run->seconds;
    }
    const bool finished = HasFile(store, kManifestName);
    if (!finished && !backup.run) return;  // nothing of a backup (what a killed prune left)
    if (finished) {
        Describe(repository, entry, ReadManifest(store));
        backup.complete = true;
        if (!backup.run) backup.sourceKey = SourceKeyOf(entry.manifest->sourceEndpoint, entry.database, entry.container, false);
        if (!backup.run) backup.source = entry.database + "/" + entry.container;
        backup.parent = FirstSegment(entry.parent);
    }
    backup.entries.push_back(std::move(entry));
}

void ReadAccount(const Repository& repository, BackupStore& store, CatalogueBackup& backup) {
    backup.account = true;
    const bool finished = HasFile(store, kAccountManifestName);
    const AccountManifest manifest = ReadAccountManifest(store, finished ? kAccountManifestName : kAccountCheckpointName);
    backup.complete = finished && manifest.complete;
    if (!manifest.since.empty()) backup.parent = FirstSegment(ParentPath(repository, backup.id, manifest.since));
    if (!backup.run) {
        backup.sourceKey = SourceKeyOf(manifest.sourceEndpoint, "?", "", true);
        backup.source = "account run";
    }
    for (const auto& database : manifest.databases) {
        for (const auto& container : database.containers) {
            if (container.status == AccountContainer::kDeleted) continue;
            CatalogueEntry entry;
            entry.path = backup.id + "/" + AccountManifest::PathOf(database, container);
            entry.run = backup.id;
            entry.database = database.id;
            entry.container = container.id;
            entry.kind = container.kind == "incremental" ? "increment" : "full";
            entry.items = container.items;
            if (backup.run) {
                const auto figures = backup.run->containers.find(database.id + "/" + container.id);
                if (figures != backup.run->containers.end()) {
                    entry.requestCharge = figures->second.requestCharge;
                    entry.seconds = figures->second.seconds;
                }
            }
            try {
                const auto below = repository.OpenBackup(entry.path);
                if (container.status == AccountContainer::kComplete) Describe(repository, entry, ReadManifest(*below));
            } catch (const ToolError& e) {
                backup.problems.push_back(e.what());
            }
            backup.entries.push_back(std::move(entry));
        }
    }
}

CatalogueBackup ReadBackup(const Repository& repository, const std::string& id, const std::set<std::string>& forgotten) {
    CatalogueBackup backup;
    backup.id = id;
    backup.time = TimeOfId(id).value_or(0);
    try {
        backup.run = repository.ReadRun(id);
    } catch (const ToolError& e) {
        backup.runUnreadable = true;
        backup.problems.push_back(e.what());
    }
    if (backup.run) {
        backup.sourceKey = backup.run->SourceKey();
        backup.source = backup.run->DescribeSource();
        backup.account = backup.run->account;
        backup.parent = backup.run->parent;
        backup.toolVersion = backup.run->toolVersion;
    }
    backup.forgotten = forgotten.count(id) > 0;
    try {
        const auto store = repository.OpenBackup(id);
        const bool account = HasFile(*store, kAccountManifestName) || HasFile(*store, kAccountCheckpointName) || backup.account;
        if (account) ReadAccount(repository, *store, backup);
        else ReadSingle(repository, *store, backup);
    } catch (const ToolError& e) {
        backup.problems.push_back(e.what());
    }
    return backup;
}

nlohmann::ordered_json EntryJson(const CatalogueBackup& backup, const CatalogueEntry& entry) {
    nlohmann::ordered_json j{{"id", entry.path},
                     {"time", Rfc3339(backup.time)},
                     {"database", entry.database},
                     {"container", entry.container},
                     {"kind", entry.kind},
                     {"parent", entry.parent.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(entry.parent)},
                     {"items", entry.items},
                     {"bytes", entry.bytes},
                     {"requestCharge", entry.requestCharge},
                     {"seconds", entry.seconds},
                     {"toolVersion", backup.toolVersion},
                     {"complete", backup.complete && entry.complete}};
    if (!entry.run.empty()) j["run"] = entry.run;
    return j;
}

bool EntryMatches(const CatalogueEntry& entry, const std::string& database, const std::string& container) {
    return (database.empty() || entry.database == database) && (container.empty() || entry.container == container);
}

}  // namespace

std::vector<CatalogueBackup> ReadCatalogue(const Repository& repository) {
    std::vector<CatalogueBackup> catalogue;
    const auto forgotten = repository.ForgottenIds();
    for (const auto& id : repository.BackupIds()) {
        auto backup = ReadBackup(repository, id, forgotten);
        // What a prune killed midway left of a forgotten backup, or an empty directory: nothing to list.
        if (backup.forgotten || backup.run || !backup.entries.empty()) catalogue.push_back(std::move(backup));
    }
    return catalogue;
}

std::vector<const CatalogueBackup*> OfSource(const std::vector<CatalogueBackup>& catalogue, const std::string& sourceKey) {
    std::vector<const CatalogueBackup*> backups;
    for (const auto& backup : catalogue) {
        if (backup.sourceKey == sourceKey) backups.push_back(&backup);
    }
    return backups;
}

bool Matches(const CatalogueBackup& backup, const std::string& database, const std::string& container) {
    for (const auto& entry : backup.entries) {
        if (EntryMatches(entry, database, container)) return true;
    }
    return false;
}

nlohmann::ordered_json CatalogueJson(const std::vector<CatalogueBackup>& catalogue, const std::string& database, const std::string& container) {
    nlohmann::ordered_json backups = nlohmann::ordered_json::array();
    for (const auto& backup : catalogue) {
        if (backup.forgotten) continue;
        for (const auto& entry : backup.entries) {
            if (EntryMatches(entry, database, container)) backups.push_back(EntryJson(backup, entry));
        }
    }
    return {{"backups", backups}};
}

std::string CatalogueText(const std::vector<CatalogueBackup>& catalogue, const std::string& database, const std::string& container) {
    std::ostringstream text;
    char line[512];
    std::snprintf(line, sizeof line, "%-24s %-20s %-32s %-9s %-24s %10s %12s %10s %8s %s\n", "ID", "TIME", "SOURCE", "KIND", "PARENT",
                  "ITEMS", "BYTES", "RU", "SECONDS", "STATE");
    text << line;
    for (const auto& backup : catalogue) {
        if (backup.forgotten) continue;
        for (const auto& entry : backup.entries) {
            if (!EntryMatches(entry, database, container)) continue;
            const std::string source = entry.database + "/" + entry.container;
            std::snprintf(line, sizeof line, "%-24s %-20s %-32s %-9s %-24s %10lld %12lld %10.1f %8.1f %s%s\n", backup.id.c_str(),
                          Rfc3339(backup.time).c_str(), source.c_str(), entry.kind.c_str(), entry.parent.empty() ? "-" : FirstSegment(entry.parent).c_str(),
                          static_cast<long long>(entry.items), static_cast<long long>(entry.bytes), entry.requestCharge, entry.seconds,
                          backup.complete && entry.complete ? "complete" : "incomplete", entry.run.empty() ? "" : " (account run)");
            text << line;
        }
    }
    return text.str();
}

}  // namespace cosmosbackup
