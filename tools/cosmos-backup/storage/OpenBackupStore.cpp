#include "storage/OpenBackupStore.h"

#include "storage/BlobCredentials.h"
#include "storage/BlobLocation.h"
#include "storage/BlobStore.h"
#include "storage/DirectoryStore.h"
#include "storage/EncryptedStore.h"
#include "support/ToolError.h"

namespace cosmosbackup {

bool IsRemoteLocation(const std::string& location) {
    return location.rfind("https://", 0) == 0 || location.rfind("http://", 0) == 0;
}

namespace {

// Account backups keep databases and containers this many levels below the location that holds
// the key slots, one more in an encrypted repository (its backups are below its root).
constexpr int kDeepestBelowSlots = 3;

std::unique_ptr<BackupStore> OpenPlainStore(const std::string& location, const StoreOptions& options) {
    if (!IsRemoteLocation(location)) return std::make_unique<DirectoryStore>(location);
    auto blob = ParseBlobLocation(location);
    auto credentials = ReadBlobCredentials(blob.account);
    RetryPolicy retry;
    retry.maxWait = options.maxRetryWait;
    return std::make_unique<BlobStore>(std::move(blob), std::move(credentials), retry, options.proxy);
}

std::unique_ptr<BackupStore> OpenWithSlots(std::shared_ptr<BackupStore> plain, const std::vector<KeySlot>& slots, const StoreOptions& options) {
    if (!options.password) throw ToolError(kPasswordNeeded);
    const std::string masterKey = UnlockMasterKey(slots, *options.password, plain->Describe());
    return std::make_unique<EncryptedStore>(std::move(plain), masterKey);
}

// `location` as a sub-location of an encrypted location up to kDeepestBelowSlots levels above it,
// or null when there is none.
std::unique_ptr<BackupStore> OpenBelowSlots(const std::string& location, const StoreOptions& options) {
    std::string parent = location;
    std::vector<std::string> names;
    for (int depth = 0; depth < kDeepestBelowSlots; ++depth) {
        while (parent.size() > 1 && parent.back() == '/') parent.pop_back();
        const auto slash = parent.rfind('/');
        if (slash == std::string::npos || slash == 0 || parent[slash - 1] == '/') return nullptr;
        names.insert(names.begin(), parent.substr(slash + 1));
        parent.erase(slash);
        std::shared_ptr<BackupStore> store;
        std::vector<KeySlot> slots;
        try {
            store = OpenPlainStore(parent, options);
            slots = ReadKeySlots(*store);
        } catch (const ToolError&) {
            return nullptr;  // no location (a blob URL's host, a directory we may not read): none above
        }
        if (slots.empty()) continue;
        std::unique_ptr<BackupStore> below = OpenWithSlots(store, slots, options);
        for (const auto& name : names) below = below->Below(name);
        return below;
    }
    return nullptr;
}

}  // namespace

std::unique_ptr<BackupStore> OpenBackupStore(const std::string& location, const StoreOptions& options) {
    auto plain = OpenPlainStore(location, options);
    const auto slots = ReadKeySlots(*plain);
    if (!slots.empty()) return OpenWithSlots(std::move(plain), slots, options);
    if (!options.password) return plain;
    if (auto below = OpenBelowSlots(location, options)) return below;
    if (plain->List().empty()) return std::make_unique<EncryptedStore>(std::move(plain), options.password);
    return plain;
}

std::unique_ptr<BackupStore> OpenStoredFiles(const std::string& location, const StoreOptions& options) {
    return OpenPlainStore(location, options);
}

void CheckLocation(const std::string& location) {
    if (IsRemoteLocation(location)) ReadBlobCredentials(ParseBlobLocation(location).account);
}

}  // namespace cosmosbackup
