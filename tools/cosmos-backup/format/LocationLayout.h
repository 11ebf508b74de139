#pragma once

#include <optional>
#include <string>

namespace cosmosbackup {

// The names of the records a backup location holds besides its data files, checkpoints, shard
// files and manifests (whose names stay with their own modules: DataFileNames.h,
// BackupCheckpoint.h, ShardView.h, Manifest.h), and the parsing of them back. DESIGN.md lists
// every name of a location in one table.

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
