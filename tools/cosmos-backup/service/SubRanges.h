#pragma once

#include "format/ReadPart.h"
#include "service/ParallelRangeRead.h"

#include <nlohmann/json.hpp>

#include <exception>
#include <string>
#include <vector>

namespace cosmosbackup {

// With fewer partition key ranges than readers, each range is cut into sub-ranges (parts of
// its effective-key interval, read with key bounds) so that every reader has a part: `readers`
// parts in all, spread over the ranges as evenly as they go. A sub-range keeps its range's id
// and its other members (a change feed read's "read" and "since": such a part reads the feed
// within its own key bounds from the range's position) and is followed through splits and
// merges by its interval, like a range. With as many ranges as readers, or more, the ranges
// come back as they are.
std::vector<ReadPart> PlanSubRanges(const std::vector<ReadPart>& ranges, int readers, const nlohmann::json& partitionKey);

// What the service made of sub-range reads, judged from the first page of every part before
// anything is written.
enum class SubRangeReads {
    Honoured,     // the parts of a range answered different items
    Ignored,      // parts of one range answered the same items: the key bounds were not applied
    Refused,      // a part's read failed
    Unconfirmed,  // too few items to tell (no pair of parts had items in both)
};

struct SubRangeVerdict {
    SubRangeReads reads = SubRangeReads::Unconfirmed;
    std::string reason;  // for Refused: the service's 400
    // A failure that says nothing about sub-ranges (no connection, 403, ...): the read fails.
    std::exception_ptr failure;
};

// Reads the first pages of neighbouring parts of a range, a pair at a time (each reader keeps
// its page for its run), and compares them, until a pair tells.
SubRangeVerdict ProbeSubRanges(RangeReaders& readers, const std::vector<ReadPart>& parts);

}  // namespace cosmosbackup
