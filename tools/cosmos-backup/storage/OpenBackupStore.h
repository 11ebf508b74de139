#pragma once

#include "storage/BackupStore.h"
#include "storage/KeySlots.h"

#include <chrono>
#include <memory>
#include <string>

namespace cosmosbackup {

// How a blob store reaches the service: through the tool's --proxy (every request when given),
// retrying busy or failing requests for up to --max-retry-wait.
struct StoreOptions {
    std::string proxy;
    std::chrono::seconds maxRetryWait{120};
    // The run's password for encrypted locations (null: none given).
    std::shared_ptr<const StorePassword> password;
};

// True when `location` names remote storage rather than a local directory.
bool IsRemoteLocation(const std::string& location);

// The store for a location: `https://ACCOUNT.blob.core.windows.net/CONTAINER/PREFIX` or a
// path-style `http(s)://HOST:PORT/ACCOUNT/CONTAINER/PREFIX` is a blob prefix, anything else a
// local directory. Credentials come from the environment (see ReadBlobCredentials).
// A location holding key slots (KeySlots.h) is opened through EncryptedStore with the master key
// options.password opens, and so is one below such a location (an account backup's container,
// named by logical or stored names); with a password, an empty location becomes a new encrypted
// one. Throws ToolError when an encrypted location is opened without a password or with a wrong one.
std::unique_ptr<BackupStore> OpenBackupStore(const std::string& location, const StoreOptions& options = {});

// The location's files as stored, key slots and encrypted names included (for the key command).
std::unique_ptr<BackupStore> OpenStoredFiles(const std::string& location, const StoreOptions& options = {});

// Throws the ToolError OpenBackupStore would throw for `location` (a URL it refuses, missing
// credentials), without opening it or sending anything: options are checked before the first
// request, to the database or to the storage.
void CheckLocation(const std::string& location);

}  // namespace cosmosbackup
