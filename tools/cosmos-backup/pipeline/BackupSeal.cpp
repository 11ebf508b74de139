#include "pipeline/BackupSeal.h"

#include "format/BackupCheckpoint.h"
#include "format/DurableFile.h"
#include "storage/UnfinishedWrites.h"

namespace cosmosbackup {
namespace {

void RequireLocksHeld(const WriterLocks* locks) {
    if (locks != nullptr) locks->RequireHeld();
}

}  // namespace

void SealManifest(BackupStore& store, const Manifest& manifest, const WriterLocks* locks) {
    RequireLocksHeld(locks);
    WriteManifest(store, manifest);
}

void SealShardRecord(BackupStore& view, const Manifest& manifest, const ShardSeal& shard, const WriterLocks* locks) {
    nlohmann::json record = manifest;
    record["shard"] = {{"index", shard.index}, {"count", shard.count},
                       {"slice", {{"minInclusive", shard.slice.min}, {"maxExclusive", shard.slice.max}}},
                       {"pageSize", shard.pageSize}, {"itemsPerFile", shard.itemsPerFile}, {"run", shard.run}};
    if (!shard.increment.is_null()) record["shard"]["increment"] = shard.increment;
    RequireLocksHeld(locks);
    WriteFileDurably(view, kManifestName, record.dump(1) + "\n");
}

void CleanUpSealed(BackupStore& store) {
    RemoveBackupCheckpoints(store);
    RemoveUnfinishedWrites(store);
}

}  // namespace cosmosbackup
