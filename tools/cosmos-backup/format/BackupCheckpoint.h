#pragma once

#include "format/Manifest.h"
#include "storage/BackupStore.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cosmosbackup {

// What a running backup has made durable, so that an interrupted one can go on. The backup
// as a whole (checkpoint.json: source, settings, the key ranges as they were at the start) is
// written once; each range has a checkpoint of its own (checkpoint-rNNNN.json), rewritten by
// the range's reader alone after each data file it seals, so no lock is shared between them.
struct BackupCheckpoint {
    static constexpr int kVersion = 1;
    std::string endpoint;
    std::string database;
    std::string container;
    std::string createdAt;
    long long pageSize = 0;
    std::int64_t itemsPerFile = 0;
    std::vector<nlohmann::json> ranges;  // {"id","minInclusive","maxExclusive"}, in key order
};

struct RangeCheckpoint {
    int range = 0;              // index into BackupCheckpoint::ranges
    std::string continuation;   // where reading goes on ("" = the range's start)
    bool done = false;          // every item of the range is in `files`
    std::vector<DataFile> files;  // sealed data files, in order
};

inline constexpr const char* kCheckpointName = "checkpoint.json";

void WriteBackupCheckpoint(BackupStore& store, const BackupCheckpoint& checkpoint);
// Throws ToolError when the location holds no readable checkpoint.
BackupCheckpoint ReadBackupCheckpoint(const BackupStore& store);
// True when the location holds the checkpoint of a backup that did not finish.
bool HasBackupCheckpoint(const BackupStore& store);
// Removes the checkpoints once the manifest vouches for the backup.
void RemoveBackupCheckpoints(BackupStore& store);
// Throws ToolError unless the checkpoint is of this endpoint, database and container.
void CheckSameSource(const BackupCheckpoint& checkpoint, const std::string& endpoint, const std::string& database,
                     const std::string& container);

void WriteRangeCheckpoint(BackupStore& store, const RangeCheckpoint& checkpoint);
// The range's checkpoint, or a fresh one when the range had sealed nothing yet.
RangeCheckpoint ReadRangeCheckpoint(const BackupStore& store, int range);

// Data file names of a range: items-rRRRR-NNNNN.jsonl.gz.
std::string RangeDataFileName(int range, int sequence);
bool IsRangeDataFileOf(const std::string& name, int range);

}  // namespace cosmosbackup
