#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace cosmosbackup {

// One part of what a backup reads, as its first record lists them and a reader starts from:
// a partition key range, a sub-range of one (its key interval narrowed), an increment's change
// feed part (the range's feed from a position), or any of these narrowed to a shard's slice of
// the key space. Stored in checkpoint.json as {"id","minInclusive","maxExclusive"} and, for a
// change feed part, "read":"changes" and "since"; that object is also the reader's first
// continuation.
struct ReadPart {
    static constexpr const char* kChanges = "changes";
    std::string id;                   // the partition key range the part lies in
    std::string minInclusive;         // effective partition key bounds
    std::string maxExclusive = "FF";
    std::string read;                 // "" for the items; kChanges for the change feed
    std::string since;                // a change feed part: the position it reads after (an etag)

    bool operator==(const ReadPart& other) const {
        return id == other.id && minInclusive == other.minInclusive && maxExclusive == other.maxExclusive && read == other.read &&
               since == other.since;
    }
    bool operator!=(const ReadPart& other) const { return !(*this == other); }
};

void to_json(nlohmann::json& j, const ReadPart& part);
// Throws nlohmann::json::exception for a part without an id, or with members of other types.
void from_json(const nlohmann::json& j, ReadPart& part);

// The part that reads the items of `range` (a range of the service's list, or of a position:
// {"id","minInclusive","maxExclusive", ...}) whole.
ReadPart ItemsOfRange(const nlohmann::json& range);
std::vector<ReadPart> ItemsOfRanges(const std::vector<nlohmann::json>& ranges);
// The part that reads the change feed of `position`'s range ({"id", "etag", bounds}) after it.
ReadPart ChangesOfRange(const nlohmann::json& position);

}  // namespace cosmosbackup
