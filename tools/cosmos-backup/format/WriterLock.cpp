#include "format/WriterLock.h"

#include "format/ShardRun.h"
#include "format/ShardView.h"
#include "storage/LockOwner.h"
#include "storage/OpenBackupStore.h"
#include "support/ToolError.h"

#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>

namespace cosmosbackup {
namespace {

// The host of an owner text "host H, pid P, since T", and its pid (0 when it is not of that form).
std::pair<std::string, long> HostAndPid(const std::string& owner) {
    const auto comma = owner.find(", pid ");
    if (owner.rfind("host ", 0) != 0 || comma == std::string::npos) return {"", 0};
    return {owner.substr(5, comma - 5), std::strtol(owner.c_str() + comma + 6, nullptr, 10)};
}

// A holder on this machine whose process is gone: a blob lease outlives a killed run by up to
// its duration, and the run that continues it waits that out rather than be refused.
bool HolderDied(const std::string& holder) {
    const auto [host, pid] = HostAndPid(holder);
    return pid > 0 && host == HostAndPid(DescribeThisProcess()).first && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

constexpr auto kLeaseOutlives = std::chrono::seconds(75);

std::unique_ptr<StoreLock> Take(BackupStore& store, const std::string& lockName, const std::string& what) {
    std::string holder;
    const auto deadline = std::chrono::steady_clock::now() + kLeaseOutlives;
    bool noted = false;
    const bool remote = IsRemoteLocation(store.Describe());
    // A holder writes who it is just after it took the lock: a moment later its text is there.
    for (int attempt = 0;; ++attempt) {
        auto lock = store.TryLock(lockName, DescribeThisProcess(), holder);
        if (lock) return lock;
        // Until then the text may still be its predecessor's, whose process is gone: a dead holder
        // is only believed once its text has stood a while.
        const bool died = !holder.empty() && HolderDied(holder);
        const bool unread = (holder.empty() || died) && attempt < 10;
        // (A directory's lock is never held by a dead process: the kernel let it go.)
        const bool dead = !unread && died && remote && std::chrono::steady_clock::now() < deadline;
        if (!unread && !dead) break;
        if (dead && !noted) {
            std::fprintf(stderr, "cosmos-backup: the run that held %s ended (%s); waiting for its lock to lapse\n", store.Describe().c_str(),
                         PrintableOwner(holder).c_str());
            noted = true;
        }
        std::this_thread::sleep_for(unread ? std::chrono::milliseconds(20) : std::chrono::milliseconds(1000));
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
