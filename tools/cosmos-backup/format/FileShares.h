#pragma once

#include "format/Manifest.h"

#include <vector>

namespace cosmosbackup {

// The data files a shard of a sharded restore writes: the manifest's files dealt to `count`
// shares, largest first, each to the share with the fewest bytes so far (ties to the lower
// index), so the shares are disjoint, together every file, and about equal in bytes. Depends on
// the manifest alone, so every shard computes the same shares. In manifest order.
std::vector<DataFile> ShareOfFiles(const std::vector<DataFile>& files, int index, int count);

}  // namespace cosmosbackup
