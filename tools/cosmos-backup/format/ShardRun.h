#pragma once

#include "format/LocationLayout.h"
#include "storage/BackupStore.h"

#include <cstdint>
#include <string>

namespace cosmosbackup {

// What makes the shards in one location one run: source, settings, shard count, the parent of
// an increment, and the start,
// in shard-run.json. The first shard to begin creates it, exclusively; every other shard adopts
// it when it names the same source, settings and count, and is refused otherwise. Each shard's
// record repeats the start, and finishing takes only shards of that start.
struct ShardRun {
    std::string endpoint;
    std::string database;
    std::string container;
    int count = 0;
    long long pageSize = 0;
    std::int64_t itemsPerFile = 0;
    std::string parent;     // an increment: its parent (a container's: the SHA-256 of its manifest; an
                            // account's: its location as given); "" for a full backup
    std::string scope;      // a run over many containers: its --include and --exclude
    std::string startedAt;  // UTC, set by the shard that created the record
};


// Creates the run record in `location` from `mine`, or adopts the one there; throws ToolError
// naming the difference when the recorded run is another. Returns the run as recorded.
ShardRun JoinShardRun(BackupStore& location, ShardRun mine);
// The recorded run; throws ToolError when there is none or it is not readable.
ShardRun ReadShardRun(const BackupStore& location);

}  // namespace cosmosbackup
