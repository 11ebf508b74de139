#pragma once

#include "service/Connection.h"
#include "service/RequestUsage.h"
#include "storage/BackupStore.h"
#include "storage/OpenBackupStore.h"
#include "support/Progress.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cosmosbackup {

struct VerifyOptions {
    std::string directory;
    std::string endpoint;   // of the live container, whose restore's session token its reads send
    std::string database;   // "" for the backup's source database
    std::string container;  // "" for the backup's source container
    bool offline = false;   // check the files only
    std::size_t maxProblems = 100;  // differences listed; the rest are counted
    long long pageSize = 1000;
    Progress* progress = nullptr;  // a run over many containers: its one progress line
    StoreOptions storage;   // how blob locations are reached
    // Compare only the items of these partition key values or prefixes (JSON texts), reading
    // only the data files that can hold them.
    std::vector<std::string> partitionKeys;
};

struct VerifySummary {
    std::int64_t backupItems = 0;
    std::int64_t liveItems = 0;
    std::int64_t equalItems = 0;
    std::vector<std::string> problems;  // the first maxProblems differences
    std::int64_t problemCount = 0;      // all of them
    RequestUsage usage;                 // of the live container's reads
    std::size_t maxProblems = 100;

    void Note(const std::string& problem);
};

// Checks a backup: the manifest, every data file's checksum and item count, every item's
// JSON. Unless offline, also compares it item by item with a live container.
VerifySummary RunVerify(Connection* connection, const VerifyOptions& options);
// The same for the backup in `store`, already opened (options.directory names it).
VerifySummary VerifyBackup(Connection* connection, const std::shared_ptr<BackupStore>& store, const VerifyOptions& options);

}  // namespace cosmosbackup
