#include "repository/RepositoryCheck.h"

#include "chain/ChainLinks.h"
#include "chain/ChainRecord.h"
#include "support/ToolError.h"

#include <map>
#include <set>

namespace cosmosbackup {
namespace {

using Problems = std::vector<std::string>;

// Every file the manifest names is in the location with the size it names.
void CheckFilesPresent(const CatalogueEntry& entry, const BackupStore& store, Problems& problems) {
    std::map<std::string, std::int64_t> sizes;
    for (const auto& file : store.List()) {
        if (file.plain) sizes[file.name] = file.size;
    }
    std::vector<DataFile> named = entry.manifest->files;
    const ChainRecord chain = ChainOf(*entry.manifest);
    for (const DataFile* file : {&chain.keys, &chain.deletions}) {
        if (!file->name.empty()) named.push_back(*file);
    }
    for (const auto& file : named) {
        const auto found = sizes.find(file.name);
        if (found == sizes.end()) {
            problems.push_back(entry.path + ": " + file.name + " is missing");
        } else if (found->second != file.bytes) {
            problems.push_back(entry.path + ": " + file.name + " holds " + std::to_string(found->second) + " bytes, its manifest says " +
                               std::to_string(file.bytes));
        }
    }
}

// The problems of one container's backup.
Problems CheckEntry(const Repository& repository, const CatalogueBackup& backup, const CatalogueEntry& entry, const ReadDataCheck& readData) {
    Problems problems;
    if (!entry.complete) {
        if (backup.run && backup.run->finished && !backup.account) problems.push_back(entry.path + ": its run finished but it has no manifest");
        return problems;
    }
    try {
        const auto store = repository.OpenBackup(entry.path);
        CheckSealedCounts(*entry.manifest, entry.path);
        CheckFilesPresent(entry, *store, problems);
        if (ChainOf(*entry.manifest).IsIncrement()) LoadChain(store, repository.Storage());
        if (readData) {
            for (const auto& problem : readData(store)) problems.push_back(entry.path + ": " + problem);
        }
    } catch (const ToolError& e) {
        problems.push_back(entry.path + ": " + e.what());
    }
    if (backup.run && !backup.account && backup.run->parent != backup.parent) {
        problems.push_back(entry.path + ": its run record names parent " + (backup.run->parent.empty() ? "none" : backup.run->parent) +
                           ", its manifest " + (backup.parent.empty() ? "none" : backup.parent));
    }
    return problems;
}

Problems CheckBackup(const Repository& repository, const CatalogueBackup& backup, const ReadDataCheck& readData) {
    Problems problems;
    for (const auto& problem : backup.problems) problems.push_back(backup.id + ": " + problem);
    if (!backup.run && !backup.runUnreadable) problems.push_back(backup.id + ": its run record is missing");
    if (backup.run && backup.run->finished && backup.account && !backup.complete) {
        problems.push_back(backup.id + ": its run finished but its account manifest is missing or not complete");
    }
    for (const auto& entry : backup.entries) {
        for (auto& problem : CheckEntry(repository, backup, entry, readData)) problems.push_back(std::move(problem));
    }
    return problems;
}

// `id` and every backup that continues it, directly or through others.
std::vector<std::string> WithDescendants(const std::string& id, const std::vector<CatalogueBackup>& catalogue) {
    std::set<std::string> reached{id};
    for (const auto& backup : catalogue) {  // oldest first: a parent is met before its children
        if (reached.count(backup.parent) > 0) reached.insert(backup.id);
    }
    return {reached.begin(), reached.end()};
}

}  // namespace

std::vector<CheckProblem> CheckRepository(const Repository& repository, const ReadDataCheck& readData) {
    const auto catalogue = ReadCatalogue(repository);
    std::vector<CheckProblem> found;
    for (const auto& backup : catalogue) {
        if (backup.forgotten) continue;  // prune removes it; a kept backup that needs it is checked itself
        const auto problems = CheckBackup(repository, backup, readData);
        for (const auto& problem : problems) found.push_back({problem, WithDescendants(backup.id, catalogue)});
    }
    return found;
}

}  // namespace cosmosbackup
