#pragma once

#include "storage/StoreLock.h"

#include <memory>
#include <string>

namespace cosmosbackup {

// Takes the lock file `path` (created when missing, mode 0600) with an open-file-description
// lock (F_OFD_SETLK, F_WRLCK on the whole file): it excludes other descriptions of the file in
// this process and in others, and the kernel drops it when the descriptor's last holder dies.
// On success writes `owner` into the file; when another holds it returns null and sets
// `holder` to the file's text. Refuses a lock path that is a symbolic link or no regular file.
std::unique_ptr<StoreLock> TryLockFile(const std::string& path, const std::string& owner, std::string& holder);

}  // namespace cosmosbackup
