#include "pipeline/RunFigures.h"

#include <algorithm>

namespace cosmosbackup {

void NoteRunFigures(Manifest& manifest, const BackupItems& items, const RequestUsage& own, const RequestUsage& more) {
    manifest.requestCharge = items.usage.requestCharge + own.requestCharge + more.requestCharge;
    manifest.seconds = items.seconds;
}

void AddShardFigures(Manifest& whole, const Manifest& shard, bool first) {
    const bool known = shard.requestCharge >= 0 && shard.seconds >= 0 && (first || (whole.requestCharge >= 0 && whole.seconds >= 0));
    whole.requestCharge = known ? (first ? 0 : whole.requestCharge) + shard.requestCharge : -1;
    whole.seconds = known ? std::max(first ? 0 : whole.seconds, shard.seconds) : -1;
}

}  // namespace cosmosbackup
