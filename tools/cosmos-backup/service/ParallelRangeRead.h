#pragma once

#include "service/RangeReader.h"
#include "support/Progress.h"

#include <nlohmann/json.hpp>

#include <vector>

namespace cosmosbackup {

struct RangesRead {
    std::vector<DataFile> files;  // every range's sealed files, ranges in key order
    RequestUsage usage;           // of the readers' bridge objects
    std::vector<std::string> endContinuations;  // each range's last continuation, ranges in order
};

// Reads every range that its checkpoint does not show as done, `parallelism` ranges at a time,
// each RangeReader on a thread of its own. The first failure stops the others between pages
// (what they sealed stays recorded) and is thrown once all have stopped.
RangesRead ReadRangesInParallel(const RangeReadSettings& settings, const std::vector<nlohmann::json>& ranges,
                                int parallelism, Progress& progress);

}  // namespace cosmosbackup
