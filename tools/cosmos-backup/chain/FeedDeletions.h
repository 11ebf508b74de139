#pragma once

#include "chain/ChainRecord.h"
#include "chain/KeySet.h"
#include "service/Connection.h"
#include "service/RequestUsage.h"
#include "support/Semaphore.h"

#include <cstdint>
#include <optional>
#include <string>

namespace cosmosbackup {

struct FeedDeletionRead {
    ConnectionOptions connection;  // for the readers' own bridge objects
    std::string database;
    std::string container;
    int parallelism = 4;               // parts read at once
    long long pageSize = 1000;         // changes per request
    Semaphore* readerSlots = nullptr;  // a run over many containers: its bound on all readers
};

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
// part, `parallelism` at once) from its position to the feed's end.
FeedDeletions ReadFeedDeletions(const FeedDeletionRead& read, const ChangeFeedPositions& since);

}  // namespace cosmosbackup
