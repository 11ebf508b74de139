#pragma once

#include "format/Manifest.h"
#include "service/BackupRead.h"
#include "service/RequestUsage.h"

namespace cosmosbackup {

// Records in `manifest` what the run that made it cost: the request units of its readers, of
// its own connection (`own`) and of any further read (`more`, an increment's key read), and the
// seconds its readers took.
void NoteRunFigures(Manifest& manifest, const BackupItems& items, const RequestUsage& own, const RequestUsage& more = {});

// Adds a shard's figures to those of the backup put together from the shards (`first`: the
// first shard's replace them): request units add up, the seconds are the longest shard's; a
// shard that recorded none makes them unknown.
void AddShardFigures(Manifest& whole, const Manifest& shard, bool first);

}  // namespace cosmosbackup
