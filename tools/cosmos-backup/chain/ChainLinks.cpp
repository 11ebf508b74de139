#include "chain/ChainLinks.h"

#include "chain/KeySet.h"
#include "format/DataFiles.h"
#include "storage/LocationPath.h"
#include "storage/OpenBackupStore.h"
#include "support/ToolError.h"

namespace cosmosbackup {
namespace {

// Far more than any schedule makes; a longer chain is taken as a loop.
constexpr int kMaxChainLength = 100000;

ChainLink ReadLink(std::shared_ptr<BackupStore> store) {
    ChainLink link{store->Describe(), store, ReadManifest(*store), {}};
    link.record = ChainOf(link.manifest);
    return link;
}

bool SameContainer(const Manifest& a, const Manifest& b) {
    return a.sourceEndpoint == b.sourceEndpoint && a.sourceDatabase == b.sourceDatabase && a.sourceContainer == b.sourceContainer &&
           a.partitionKey == b.partitionKey && a.container == b.container;
}

// The parent `child` names, checked against what `child` recorded of it.
ChainLink ParentOf(const ChainLink& child, const StoreOptions& storage) {
    std::string directory;
    try {
        directory = ResolveLocation(child.directory, child.record.parent.path);
    } catch (const ToolError& e) {
        throw ToolError("chain link " + child.directory + " names its parent where no parent can be: " + e.what());
    }
    const std::string named = "chain link " + directory + " (the parent of " + child.directory + ")";
    ChainLink parent;
    try {
        parent = ReadLink(OpenBackupStore(directory, storage));
        if (ManifestSha256(*parent.store) != child.record.parent.manifestSha256) {
            throw ToolError("its manifest is not the one the increment was made from (SHA-256 differs)");
        }
    } catch (const ToolError& e) {
        throw ToolError(named + " is missing or damaged: " + e.what());
    }
    if (parent.record.kind.empty()) throw ToolError(named + " is not part of a chain (made by an older tool)");
    if (!SameContainer(parent.manifest, child.manifest)) {
        throw ToolError(named + " is of another container or another container definition than " + child.directory);
    }
    if (parent.record.length != child.record.length - 1) throw ToolError(named + " does not have the chain length " + child.directory + " expects");
    return parent;
}

}  // namespace

std::vector<ChainLink> LoadChain(std::shared_ptr<BackupStore> last, const StoreOptions& storage) {
    const std::string directory = last->Describe();
    std::vector<ChainLink> links{ReadLink(std::move(last))};
    const ChainLink newest = links.front();  // a copy: the vector grows
    while (links.back().record.IsIncrement()) {
        if (static_cast<int>(links.size()) > kMaxChainLength) throw ToolError(directory + ": the chain is too long or loops");
        links.push_back(ParentOf(links.back(), storage));
    }
    if (newest.record.IsIncrement()) {
        const auto& base = links.back();
        std::string recorded;
        try {
            recorded = ResolveLocation(newest.directory, newest.record.base.path);
        } catch (const ToolError& e) {
            throw ToolError("chain link " + newest.directory + " names its base where no base can be: " + e.what());
        }
        if (!SameLocation(recorded, base.directory) ||
            ManifestSha256(*base.store) != newest.record.base.manifestSha256) {
            throw ToolError("chain link " + base.directory + " is not the base " + newest.directory + " names (" + recorded + ")");
        }
    }
    return {links.rbegin(), links.rend()};
}

namespace {

void CheckLinks(const std::vector<ChainLink>& chain, bool keyFiles) {
    for (const auto& link : chain) {
        try {
            CheckDataFiles(*link.store, link.manifest);
            CheckDataFileContents(*link.store, link.manifest);
            if (keyFiles && !link.record.kind.empty()) CheckKeyFile(*link.store, link.record.keys);
            if (keyFiles && link.record.IsIncrement()) ReadKeyFile(*link.store, link.record.deletions);
        } catch (const ToolError& e) {
            throw ToolError("chain link " + link.directory + " is damaged: " + e.what());
        }
    }
}

}  // namespace

void CheckChainFiles(const std::vector<ChainLink>& chain) { CheckLinks(chain, true); }

void CheckChainDataFiles(const std::vector<ChainLink>& chain) { CheckLinks(chain, false); }

void ReplayChain(const std::vector<ChainLink>& chain, const std::function<void(const std::string& item)>& upsert,
                 const std::function<void(const std::string& key)>& remove) {
    for (const auto& link : chain) {
        ForEachItem(*link.store, link.manifest, upsert);
        if (!link.record.IsIncrement()) continue;
        for (const auto key : ReadKeyFile(*link.store, link.record.deletions)) remove(std::string(key));
    }
}

}  // namespace cosmosbackup
