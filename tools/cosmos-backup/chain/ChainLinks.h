#pragma once

#include "chain/ChainRecord.h"
#include "format/Manifest.h"
#include "storage/OpenBackupStore.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cosmosbackup {

// One backup of a chain as found in its storage.
struct ChainLink {
    std::string directory;  // its location: a directory or a blob URL
    std::shared_ptr<BackupStore> store;  // opened once, when the chain is loaded
    Manifest manifest;
    ChainRecord record;
};

// The chain that ends with the backup in `last` (each link's parent is found relative to it in
// the same storage), from its base (a full backup) to it.
// Each link is checked before it is returned: its manifest is there and readable, its SHA-256
// is the one the next link recorded, it backs up the same container with the same definition,
// and the base is the one every increment names. Throws ToolError naming the first link that
// is missing or damaged.
// Parents in blob storage are reached with `storage`.
std::vector<ChainLink> LoadChain(std::shared_ptr<BackupStore> last, const StoreOptions& storage = {});

// Checks every file of every link (data files' sizes, checksums and contents, key files),
// what a restore runs before its first write.
void CheckChainFiles(const std::vector<ChainLink>& chain);

// Checks every data file of every link (sizes, checksums and contents): what a restore of the
// chain's state reads besides the newest link's key file, which is checked as it is read.
void CheckChainDataFiles(const std::vector<ChainLink>& chain);

// The state the chain describes, link by link: `upsert` for every item of the base and of
// each increment, `remove` (a key) for each deletion of an increment after its items.
void ReplayChain(const std::vector<ChainLink>& chain, const std::function<void(const std::string& item)>& upsert,
                 const std::function<void(const std::string& key)>& remove);

}  // namespace cosmosbackup
