#pragma once

#include "storage/BackupStore.h"

#include <memory>
#include <optional>
#include <string>

namespace cosmosbackup {

// Shard `index` of `count` of a backup or restore that a scheduler runs as several tasks.
struct ShardSpec {
    int index = 0;
    int count = 1;
    std::string Describe() const { return std::to_string(index) + "/" + std::to_string(count); }
};

// "I/N" (0 <= I < N <= 9999), or "auto": I and N from the scheduler's environment (Slurm's
// SLURM_ARRAY_TASK_ID and SLURM_ARRAY_TASK_COUNT, else Kubernetes' JOB_COMPLETION_INDEX with
// N = `autoCount`). Throws ToolError naming what is missing or wrong.
ShardSpec ParseShard(const std::string& text, int autoCount);

// One shard's view of a shared backup location: the location as an ordinary backup sees it,
// holding only this shard's files under names of its own, so that the whole backup machinery
// (checkpoints, resume, data files, key file, manifest) runs per shard unchanged and shards
// never touch each other's files:
//   items-X             -> items-sIIII-X
//   checkpoint.json     -> checkpoint-sIIII.json;  checkpoint-X -> checkpoint-sIIII-X
//   keys.jsonl.gz       -> keys-sIIII.jsonl.gz;  live-keys.jsonl.gz -> live-keys-sIIII.jsonl.gz
//   manifest.json       -> shard-sIIII.json  (the shard's own record, written when it is done)
// Finishing (ShardedBackupFinish.h) puts the shards' records together into the backup's manifest.
class ShardView : public BackupStore {
public:
    ShardView(std::shared_ptr<BackupStore> location, int shard);

    std::string Describe() const override;
    // Ready for this shard: the location is created when absent; other shards' files are left
    // alone, anything else in it (another backup) is refused.
    void CreateNew() override;
    bool CreateExclusive(const std::string& name, const std::string& content) override;
    std::vector<StoredFile> List() const override;
    std::unique_ptr<StoredFileReader> OpenRead(const std::string& name) const override;
    std::unique_ptr<StoredFileWriter> OpenWrite(const std::string& name) override;
    void Remove(const std::string& name) override;
    // The same shard's view of the location below.
    std::unique_ptr<BackupStore> Below(const std::string& name) const override;
    // The shard's own lock: NAME.lock is NAME-sIIII.lock in the location.
    std::unique_ptr<StoreLock> TryLock(const std::string& name, const std::string& owner, std::string& holder) override;

    // The location's name of a file of shard `shard`, and back (nothing: not of that shard); what
    // a killed writer left (NAME.partial, NAME.claim-XXXXXX) is named after NAME.
    static std::string LocationName(int shard, const std::string& name);
    static std::optional<std::string> ShardName(int shard, const std::string& locationName);
    // The shard whose record `locationName` is (shard-sIIII.json), if it is one.
    static std::optional<int> RecordOf(const std::string& locationName);
    // True for any file a shard writes (of whichever shard).
    static bool IsShardFile(const std::string& locationName);

private:
    std::shared_ptr<BackupStore> m_location;
    int m_shard;
};

}  // namespace cosmosbackup
