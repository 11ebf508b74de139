#include "storage/OpenBackupStore.h"

#include "storage/BlobCredentials.h"
#include "storage/BlobLocation.h"
#include "storage/BlobStore.h"
#include "storage/DirectoryStore.h"

namespace cosmosbackup {

bool IsRemoteLocation(const std::string& location) {
    return location.rfind("https://", 0) == 0 || location.rfind("http://", 0) == 0;
}

std::unique_ptr<BackupStore> OpenBackupStore(const std::string& location, const StoreOptions& options) {
    if (!IsRemoteLocation(location)) return std::make_unique<DirectoryStore>(location);
    auto blob = ParseBlobLocation(location);
    auto credentials = ReadBlobCredentials(blob.account);
    RetryPolicy retry;
    retry.maxWait = options.maxRetryWait;
    return std::make_unique<BlobStore>(std::move(blob), std::move(credentials), retry, options.proxy);
}

void CheckLocation(const std::string& location) {
    if (IsRemoteLocation(location)) ReadBlobCredentials(ParseBlobLocation(location).account);
}

}  // namespace cosmosbackup
