#pragma once

#include "format/Manifest.h"
#include "format/WriterLock.h"
#include "service/KeySlices.h"
#include "storage/BackupStore.h"

#include <nlohmann/json.hpp>

#include <string>

namespace cosmosbackup {

// The seal of every backup run, the last step before the clean-up: what makes a location (or a
// shard's part of it) a finished backup. Each seal first checks that the run still holds the
// locks it took before it read the location's records (`locks`; null for a caller that holds
// none, a test), so that a run whose blob lease lapsed never seals over another's work.

// The backup's manifest: a full backup, an increment, or a sharded run's finish.
void SealManifest(BackupStore& store, const Manifest& manifest, const WriterLocks* locks);

// What a shard records of its run beside its manifest (ShardedBackupFinish.h checks the shards
// against each other with it); `increment`: an increment's key files, positions and links.
struct ShardSeal {
    int index = 0;
    int count = 1;
    KeySlice slice;
    long long pageSize = 0;
    std::int64_t itemsPerFile = 0;
    std::string run;  // the start of the run the shard belongs to (ShardRun.h)
    nlohmann::json increment;
};
// A shard's record (its manifest.json, as the shard sees the location: shard-sIIII.json).
void SealShardRecord(BackupStore& view, const Manifest& manifest, const ShardSeal& shard, const WriterLocks* locks);

// After a seal: the checkpoints the seal made unnecessary, and what killed writers left.
void CleanUpSealed(BackupStore& store);

}  // namespace cosmosbackup
