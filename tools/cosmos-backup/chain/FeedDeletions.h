#pragma once

#include "chain/ChainRecord.h"
#include "chain/KeySet.h"
#include "service/Connection.h"
#include "service/RequestUsage.h"

#include <cstdint>
#include <optional>
#include <string>

namespace cosmosbackup {

// What the change feed's "all versions and deletes" mode says of the keys since a backup.
struct FeedDeletions {
    // Set when the feed cannot serve the positions (the account lacks the mode, or a position
    // is older than its retention window): the service's reason. The rest is then empty.
    std::optional<std::string> unavailable;
    KeySet deleted;               // keys whose last change since the positions is a deletion, normalised
    ChangeFeedPositions reached;  // where each part's read ended: the next increment's start
    std::int64_t changes = 0;     // changes read
    RequestUsage usage;
};

// Reads the "all versions and deletes" feed of every part of `since` (one bridge object per
// part, `read.parallelism` at once, `read.pageSize` changes a page; `read.parts` is not used)
// from its position to the feed's end.
FeedDeletions ReadFeedDeletions(const LiveKeyRead& read, const ChangeFeedPositions& since);

}  // namespace cosmosbackup
