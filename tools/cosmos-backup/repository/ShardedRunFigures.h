#pragma once

#include "repository/Repository.h"
#include "repository/RunRecord.h"

namespace cosmosbackup {

// Sets the figures of a finished sharded run from the manifests its finish wrote (the shards'
// request units added up, the longest shard's seconds): the finish's own report holds only what
// the finish itself used. An account run gets them per container too.
void NoteShardedRunFigures(const Repository& repository, RunRecord& record);

}  // namespace cosmosbackup
