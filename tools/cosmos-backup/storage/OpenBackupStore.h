#pragma once

#include "BackupStore.h"

#include <memory>
#include <string>

namespace cosmosbackup {

// Settings of the storage kinds that need any; credentials come from the environment.
struct StoreSettings {
    std::string sasFile;  // owner-only file holding a SAS token for blob locations
};

// True when `location` names remote storage rather than a local directory.
bool IsRemoteLocation(const std::string& location);

// The store for a location: `https://ACCOUNT.blob.core.windows.net/CONTAINER/PREFIX` or a
// path-style `http(s)://HOST:PORT/ACCOUNT/CONTAINER/PREFIX` is a blob prefix, anything else a
// local directory.
std::unique_ptr<BackupStore> OpenBackupStore(const std::string& location, const StoreSettings& settings = {});

}  // namespace cosmosbackup
