#pragma once

#include "storage/BackupStore.h"

#include <memory>
#include <string>

namespace cosmosbackup {

// True when `location` names remote storage rather than a local directory.
bool IsRemoteLocation(const std::string& location);

// The store for a location: `https://ACCOUNT.blob.core.windows.net/CONTAINER/PREFIX` or a
// path-style `http(s)://HOST:PORT/ACCOUNT/CONTAINER/PREFIX` is a blob prefix, anything else a
// local directory. Credentials come from the environment (see ReadBlobCredentials).
std::unique_ptr<BackupStore> OpenBackupStore(const std::string& location);

}  // namespace cosmosbackup
