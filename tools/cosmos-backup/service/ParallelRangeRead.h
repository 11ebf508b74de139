#pragma once

#include "service/RangeReader.h"
#include "support/Progress.h"

#include <nlohmann/json.hpp>

#include <memory>
#include <vector>

namespace cosmosbackup {

struct RangesRead {
    std::vector<DataFile> files;  // every range's sealed files, ranges in key order
    std::vector<DataFile> filesOfEarlierRuns;  // those of them a resumed backup found sealed
    RequestUsage usage;           // of the readers' bridge objects
    std::vector<std::string> endContinuations;  // each range's last continuation, ranges in order
};

using RangeReaders = std::vector<std::unique_ptr<RangeReader>>;

// One reader per part of the key space (`ranges[i]` writes the files and checkpoint of index i).
// A resumed backup takes each part's checkpoint from the store (what it sealed counts as
// progress); a new one starts every part afresh without looking.
RangeReaders MakeRangeReaders(const RangeReadSettings& settings, const std::vector<ReadPart>& ranges,
                              Progress* progress);

// Runs every reader whose checkpoint does not show it done, `parallelism` at a time, each on a
// thread of its own. The first failure stops the others between pages (what they sealed stays
// recorded) and is thrown once all have stopped. `readerSlots`, if given, bounds the readers of
// the whole run (several containers) besides.
RangesRead RunRangeReaders(RangeReaders& readers, int parallelism, Progress& progress, Semaphore* readerSlots = nullptr);

}  // namespace cosmosbackup
