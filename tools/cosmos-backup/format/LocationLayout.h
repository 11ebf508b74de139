#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace cosmosbackup {

// Every name a backup location holds, and the parsing of them back: one place, so that no
// module invents a name or a pattern of its own. DESIGN.md lists them in one table. Names come
// from manifests and listings, which are input like any other: only the tool's own are taken.
// (The lock files' names are the storage's: StoreLock.h; what killed writers leave, NAME.partial
// and NAME.claim-XXXXXX: UnfinishedWrites.h.)

inline constexpr std::size_t kMaxLineBytes = 4u << 20;       // the service's items are at most 2 MB
inline constexpr std::size_t kMaxManifestBytes = 64u << 20;  // scripts and file list included

// A backup's records.
inline constexpr const char* kManifestName = "manifest.json";
inline constexpr const char* kCheckpointName = "checkpoint.json";  // the first record, the claim
// An increment's switch to the files that keep only each item's latest version; removed with
// the other checkpoints once the manifest lists the files.
inline constexpr const char* kLatestFilesName = "checkpoint-latest.json";
inline constexpr const char* kKeysFileName = "keys.jsonl.gz";
inline constexpr const char* kDeletionsFileName = "deletions.jsonl.gz";
// A shard of a sharded increment: the keys its slice held after its changes were read.
inline constexpr const char* kLiveKeysFileName = "live-keys.jsonl.gz";
// A sharded run's record: what makes the shards in one location one run (ShardRun.h).
inline constexpr const char* kShardRunName = "shard-run.json";
// A run over many containers.
inline constexpr const char* kAccountManifestName = "account.json";
inline constexpr const char* kAccountCheckpointName = "account-checkpoint.json";
// In a container's location of a sharded account run: a shard found the container deleted (its
// `_rid` inside), so that finish records it as deleted rather than wait for its shards forever.
inline constexpr const char* kContainerDeletedName = "container-deleted.json";

// A range's checkpoint: checkpoint-rRRRR.json.
std::string RangeCheckpointName(int range);
// True for every checkpoint of a backup (checkpoint.json, checkpoint-*.json).
bool IsCheckpointName(const std::string& name);

// Data files: items-NNNNN.jsonl.gz from one reader, items-rRRRR-NNNNN.jsonl.gz from a reader per
// key range, items-sIIII-rRRRR-NNNNN.jsonl.gz from a reader of shard IIII.
struct DataFileNameParts {
    std::optional<int> shard;
    std::optional<int> range;
    int sequence = 0;
};
// The parts of a data file name of the tool's (no separator, no "..", nothing absolute), or nothing.
std::optional<DataFileNameParts> ParseDataFileName(const std::string& name);
bool IsDataFileName(const std::string& name);
// `directory`/`name` for a data file named in a manifest; throws ToolError for any other name.
std::string DataFilePath(const std::string& directory, const std::string& name);
// The name of the n-th data file of a backup read by one reader.
std::string DataFileName(int index);
// The name of the n-th data file of range `range`, and whether `name` is one of that range's.
std::string RangeDataFileName(int range, int sequence);
bool IsRangeDataFileOf(const std::string& name, int range);

// A shard's files, under names of their own in the location it shares (ShardView.h):
//   items-X -> items-sIIII-X;  checkpoint.json -> checkpoint-sIIII.json;  checkpoint-X -> checkpoint-sIIII-X;
//   keys.jsonl.gz -> keys-sIIII.jsonl.gz;  live-keys.jsonl.gz -> live-keys-sIIII.jsonl.gz;
//   manifest.json -> shard-sIIII.json (the shard's record, written when it is done);
// what a killed writer left (NAME.partial, NAME.claim-XXXXXX) is named after NAME.
std::string ShardFileName(int shard, const std::string& name);
// The shard's own name of `locationName`, or nothing when it is not a file of shard `shard`.
std::optional<std::string> ShardOwnName(int shard, const std::string& locationName);
// The shard whose record (shard-sIIII.json) `locationName` is, if it is one.
std::optional<int> ShardRecordOf(const std::string& locationName);
// The shard whose first record (checkpoint-sIIII.json) `locationName` is, if it is one.
std::optional<int> ShardCheckpointOf(const std::string& locationName);
// True for any file a sharded run writes (of whichever shard, and the run's record).
bool IsShardFile(const std::string& locationName);
// A shard's own lock: NAME.lock is NAME-sIIII.lock in the location.
std::string ShardLockName(int shard, const std::string& lockName);

// A restore's records are named by a hash of what they are of (target names may hold any
// character); the identity itself is inside the record.
inline constexpr const char* kRestoreProgressPrefix = "restore-progress-";
inline constexpr const char* kRestoreTargetPrefix = "restore-target-";
inline constexpr const char* kRestoreRidPrefix = "restore-rid-";
std::string RestoreProgressName(const std::string& target);
std::string RestoreTargetName(const std::string& identity);
std::string RestoreRidName(const std::string& identity);
// The record kind prefix of `name` when it is one of the restore records above.
std::optional<std::string> RestoreRecordPrefixOf(const std::string& name);

// The lock a restore into one target holds on the backup location while it writes its records
// there (a backup's own locks are StoreLock.h's kLockFileName, per shard through ShardView).
std::string RestoreLockName(const std::string& target);

}  // namespace cosmosbackup
