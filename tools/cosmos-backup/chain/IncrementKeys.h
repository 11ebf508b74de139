#pragma once

#include "chain/ChainLinks.h"
#include "chain/KeyComparison.h"
#include "chain/KeySet.h"

#include <optional>
#include <vector>

namespace cosmosbackup {

// An increment's key files and what finding them cost.
struct IncrementKeys {
    KeyChangeFiles files;
    RequestUsage usage;  // the deletions feed's or the key-only read's requests
    // Where the "all versions and deletes" feed stands for the next increment; none where the
    // account does not offer the mode.
    std::optional<ChangeFeedPositions> allVersions;
    bool fromFeed = false;  // the deletions came from that feed, no key set was read
};

// The keys of the state after an increment whose changed items have `changed` keys. Where the
// parent recorded positions of the "all versions and deletes" feed, the deletions since come
// from that feed, and no key set is read; otherwise (the account lacks the mode, or a position
// is older than the feed's retention: 400) the container's keys are read and compared, as
// before the mode existed, which is said once on stderr. `started` are the positions the
// increment took when it began (the next increment's start when the feed was not read).
IncrementKeys FindIncrementKeys(Connection& connection, const LiveKeyRead& read, BackupStore& store, const ChainLink& parent,
                                const std::vector<KeySet>& changed, const ChangeFeedPositions& started);

}  // namespace cosmosbackup
