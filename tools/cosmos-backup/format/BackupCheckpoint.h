#pragma once

#include "format/LocationLayout.h"
#include "format/Manifest.h"
#include "format/ReadPart.h"
#include "storage/BackupStore.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cosmosbackup {

// What a running backup has made durable, so that an interrupted one can go on. The backup
// as a whole is described once, by its first durable record (checkpoint.json): what it is (a
// full backup or an increment, of which source, since which parent), its settings, the change
// feed positions before its first read and the key ranges (or change feed parts) it reads. A
// resumed backup is that backup, whatever options are given again. Each range has a checkpoint
// of its own (checkpoint-rNNNN.json), rewritten by the range's reader alone after each data file
// it seals, so no lock is shared between them.
struct BackupCheckpoint {
    static constexpr int kVersion = 2;
    static constexpr const char* kFull = "full";
    static constexpr const char* kIncremental = "incremental";
    std::string kind = kFull;
    std::string endpoint;
    std::string database;
    std::string container;
    std::string createdAt;
    long long pageSize = 0;
    std::int64_t itemsPerFile = 0;
    int parallelism = 0;
    nlohmann::json positions;  // the change feed positions before the first read: {"at","ranges"}
    // Increments: the parent, relative to this backup's location, and its manifest's SHA-256.
    std::string parentPath;
    std::string parentManifestSha256;
    std::vector<ReadPart> ranges;  // the parts it reads, in key order

    bool IsIncrement() const { return kind == kIncremental; }
};

struct RangeCheckpoint {
    int range = 0;              // index into BackupCheckpoint::ranges
    std::string continuation;   // where reading goes on ("" = the range's start)
    bool done = false;          // every item of the range is in `files`
    std::vector<DataFile> files;  // sealed data files, in order
};

// The record as checkpoint.json holds it; a new backup creates the file exclusively (BackupClaim)
// and never rewrites it.
std::string BackupCheckpointText(const BackupCheckpoint& checkpoint);
// Throws ToolError when the location holds no readable checkpoint.
BackupCheckpoint ReadBackupCheckpoint(const BackupStore& store);
// True when the location holds the checkpoint of a backup that did not finish.
bool HasBackupCheckpoint(const std::vector<StoredFile>& listed);
bool HasBackupCheckpoint(const BackupStore& store);
// Removes the checkpoints once the manifest vouches for the backup.
void RemoveBackupCheckpoints(BackupStore& store);
// Throws ToolError unless the checkpoint is of this endpoint, database and container.
void CheckSameSource(const BackupCheckpoint& checkpoint, const std::string& endpoint, const std::string& database,
                     const std::string& container);

void WriteRangeCheckpoint(BackupStore& store, const RangeCheckpoint& checkpoint);
// The range's checkpoint, or a fresh one when the range had sealed nothing yet.
RangeCheckpoint ReadRangeCheckpoint(const BackupStore& store, int range);

// An increment's data files once only the latest version of each item is kept: the one durable
// record that switches from the ranges' files to the rewritten ones (checkpoint-latest.json).
void WriteLatestFiles(BackupStore& store, const std::vector<DataFile>& files);
// The recorded list, or nothing when the switch was not made yet.
std::optional<std::vector<DataFile>> ReadLatestFiles(const BackupStore& store);

}  // namespace cosmosbackup
