#pragma once

#include "chain/KeySet.h"
#include "format/Manifest.h"
#include "service/Connection.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace cosmosbackup {

// Where each partition key range's change feed stood when a backup began: the next
// increment reads the changes after it. `ranges` are {"id","minInclusive","maxExclusive",
// "etag"}, as the wrapper gives them (GetCosmosDBTokens(-4)).
struct ChangeFeedPositions {
    std::string at;  // UTC, ISO 8601
    std::vector<nlohmann::json> ranges;
};

// Another backup of the chain, named from this one: its directory relative to this one's and
// the SHA-256 of its manifest, so that a replaced or edited link is noticed.
struct LinkReference {
    std::string path;
    std::string manifestSha256;
};

// What makes a backup a link of a chain, kept in its manifest under "chain". A full backup
// records its change feed positions and its key set; an increment also names its parent and
// the chain's base, and lists the keys deleted since its parent.
struct ChainRecord {
    static constexpr const char* kFull = "full";
    static constexpr const char* kIncremental = "incremental";

    std::string kind;  // "" for a backup made before chains existed: no increment may follow it
    ChangeFeedPositions changeFeed;
    DataFile keys;       // every key of the state the chain describes up to this backup, sorted
    DataFile deletions;  // increments: keys deleted since the parent, sorted
    LinkReference parent;
    LinkReference base;
    int length = 1;  // backups in the chain up to this one
    // Where the "all versions and deletes" feed stood, for accounts with that mode (the next
    // increment reads the deletions there); none for a backup without it, or made before it.
    std::optional<ChangeFeedPositions> allVersions;

    bool IsIncrement() const { return kind == kIncremental; }
};


void to_json(nlohmann::json& j, const LinkReference& l);
void from_json(const nlohmann::json& j, LinkReference& l);

// The manifest's chain record (kind "" when it has none); throws ToolError for a malformed one.
ChainRecord ChainOf(const Manifest& manifest);
void SetChain(Manifest& manifest, const ChainRecord& chain);
// Throws ToolError unless the manifest's item count is that of its files and, for a full backup
// with a key file, that of its keys: a seal that vouches for items it does not hold is refused.
void CheckSealedCounts(const Manifest& manifest, const std::string& where);

// Reads each range's change feed position now (one cheap request per range, two where the
// account has the "all versions and deletes" mode: "allVersionsEtag").
ChangeFeedPositions ReadChangeFeedPositions(Connection& connection);

// The "all versions and deletes" positions among `positions` (as ReadChangeFeedPositions gives
// them), or none unless every range has one.
std::optional<ChangeFeedPositions> AllVersionsPositions(const ChangeFeedPositions& positions);

// The positions as a backup's first record keeps them, and back; the latter throws ToolError
// for a malformed record.
nlohmann::json PositionsJson(const ChangeFeedPositions& positions);
ChangeFeedPositions PositionsOf(const nlohmann::json& recorded);

// Makes a full backup the base of a chain: writes the key set of its items (keys.jsonl.gz),
// the union of `keys` (normalised sets), and records it with the positions in the manifest.
void RecordChainBase(BackupStore& store, Manifest& manifest, const ChangeFeedPositions& positions, const std::vector<KeySet>& keys);

// SHA-256 of a backup's manifest file, 64 lower-case hex digits; throws ToolError when it is
// missing, not a plain file or larger than a manifest may be.
std::string ManifestSha256(const BackupStore& store);

}  // namespace cosmosbackup
