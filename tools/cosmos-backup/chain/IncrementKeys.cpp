#include "chain/IncrementKeys.h"

#include "chain/FeedDeletions.h"

#include <iostream>

namespace cosmosbackup {
namespace {

void SayFallingBack(const std::string& why) {
    std::cerr << "cosmos-backup: " << why << "; reading the container's keys to find the deletions" << std::endl;
}

IncrementKeys FromKeySet(Connection& connection, const LiveKeyRead& read, BackupStore& store, const ChainLink& parent,
                         const std::vector<KeySet>& changed, const ChangeFeedPositions& started) {
    IncrementKeys result;
    const std::vector<KeySet> live = ReadLiveKeys(connection, read, result.usage);
    KeyFileCursor parentKeys(*parent.store, parent.record.keys);
    MergedKeys changedKeys(changed), liveKeys(live);
    result.files = CompareKeys(store, parentKeys, changedKeys, liveKeys);
    result.allVersions = AllVersionsPositions(started);
    return result;
}

}  // namespace

IncrementKeys FindIncrementKeys(Connection& connection, const LiveKeyRead& read, BackupStore& store, const ChainLink& parent,
                                const std::vector<KeySet>& changed, const ChangeFeedPositions& started) {
    if (!parent.record.allVersions) {
        SayFallingBack(AllVersionsPositions(started)
                           ? "the parent recorded no position of the change feed's all versions and deletes mode"
                           : "the account does not offer the change feed's all versions and deletes mode");
        return FromKeySet(connection, read, store, parent, changed, started);
    }
    FeedDeletions feed = ReadFeedDeletions(read, *parent.record.allVersions);
    if (feed.unavailable) {
        SayFallingBack("the change feed's all versions and deletes mode cannot serve this increment (" + *feed.unavailable + ")");
        IncrementKeys result = FromKeySet(connection, read, store, parent, changed, started);
        result.usage += feed.usage;
        return result;
    }
    IncrementKeys result;
    KeyFileCursor parentKeys(*parent.store, parent.record.keys);
    MergedKeys changedKeys(changed);
    const std::vector<KeySet> deletedParts{std::move(feed.deleted)};
    MergedKeys deleted(deletedParts);
    result.files = RemoveDeletedKeys(store, parentKeys, changedKeys, deleted);
    result.usage = feed.usage;
    result.allVersions = std::move(feed.reached);
    result.fromFeed = true;
    return result;
}

}  // namespace cosmosbackup
