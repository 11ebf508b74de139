#pragma once

#include "format/ShardView.h"
#include "storage/BackupStore.h"
#include "storage/StoreLock.h"
#include "support/ToolError.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cosmosbackup {

// A run refused because another holds the lock it needs.
class LockRefused : public ToolError {
public:
    using ToolError::ToolError;
};

// The locks a run holds while it changes a location (StoreLock.h), taken before it reads any
// durable record there and released when this is destroyed (or the process dies). A run that
// finds one held is refused before it changes anything: "another run holds this backup (host
// H, pid P, since T)".
class WriterLocks {
public:
    // Throws ToolError when a lock was lost (a blob lease not renewed in time): before a seal.
    void RequireHeld() const;
    void Add(std::unique_ptr<StoreLock> lock) { m_held.push_back(std::move(lock)); }

private:
    std::vector<std::unique_ptr<StoreLock>> m_held;
};

// A whole location: a backup, a resume, a run over many containers (`lockName` = kLockFileName).
WriterLocks LockLocation(BackupStore& location, const std::string& lockName = kLockFileName);
// One shard of a sharded run: its own files only (`lockName` for its part of which record).
WriterLocks LockShard(const std::shared_ptr<BackupStore>& location, int shard, const std::string& lockName = kLockFileName);
// Finishing a sharded run: the whole location, then every shard of the run as recorded (read
// under the first lock), so that no copy of a shard writes while the shards are sealed; a
// sharded restore's finish gives `shards` itself and its own `lockName`.
WriterLocks LockRun(const std::shared_ptr<BackupStore>& location, const std::string& lockName = kLockFileName, int shards = -1);

// The locks of a backup run: LockRun for a finish, LockShard for a shard, else LockLocation.
WriterLocks LockBackup(const std::shared_ptr<BackupStore>& location, const std::optional<ShardSpec>& shard, bool finish);

}  // namespace cosmosbackup
