#include "format/WriterLock.h"

#include "format/ShardRun.h"
#include "format/ShardView.h"
#include "storage/LockOwner.h"
#include "support/ToolError.h"

#include <chrono>
#include <thread>

namespace cosmosbackup {
namespace {

std::unique_ptr<StoreLock> Take(BackupStore& store, const std::string& lockName, const std::string& what) {
    std::string holder;
    // A holder writes who it is just after it took the lock: a moment later its text is there.
    for (int attempt = 0; attempt < 10; ++attempt) {
        auto lock = store.TryLock(lockName, DescribeThisProcess(), holder);
        if (lock) return lock;
        if (!holder.empty()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw LockRefused("another run holds this backup (" + (holder.empty() ? std::string("an unreadable holder") : PrintableOwner(holder)) +
                    "): " + what + " in " + store.Describe() + " is being written; nothing was changed");
}

}  // namespace

void WriterLocks::RequireHeld() const {
    for (const auto& lock : m_held) lock->RequireHeld();
}

WriterLocks LockLocation(BackupStore& location, const std::string& lockName) {
    WriterLocks locks;
    locks.Add(Take(location, lockName, "the backup"));
    return locks;
}

WriterLocks LockShard(const std::shared_ptr<BackupStore>& location, int shard, const std::string& lockName) {
    ShardView view(location, shard);
    WriterLocks locks;
    locks.Add(Take(view, lockName, "shard " + std::to_string(shard)));
    return locks;
}

WriterLocks LockRun(const std::shared_ptr<BackupStore>& location, const std::string& lockName, int shards) {
    WriterLocks locks = LockLocation(*location, lockName);
    if (shards < 0) {
        shards = 0;
        try {
            shards = ReadShardRun(*location).count;
        } catch (const ToolError&) {
            // No run recorded (finished already, or none began): there is no shard to keep out.
        }
    }
    for (int i = 0; i < shards; ++i) {
        ShardView view(location, i);
        locks.Add(Take(view, lockName, "shard " + std::to_string(i)));
    }
    return locks;
}

WriterLocks LockBackup(const std::shared_ptr<BackupStore>& location, const std::optional<ShardSpec>& shard, bool finish) {
    if (finish) return LockRun(location);
    if (shard) return LockShard(location, shard->index);
    return LockLocation(*location);
}

}  // namespace cosmosbackup
