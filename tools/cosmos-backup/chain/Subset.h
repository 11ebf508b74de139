#pragma once

#include "chain/ItemKey.h"
#include "chain/KeySet.h"
#include "format/Manifest.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace cosmosbackup {

// Part of a container's items: those of some partition key values (for a hierarchical key, a
// shorter array is a prefix: every item under it), and those named by key ([id, values...]).
// An empty subset is no subset: it holds every item.
class Subset {
public:
    Subset() = default;
    // `partitionKeys` JSON arrays (a single value stands for [value]); `keys` ItemKey texts;
    // throws ToolError for a value that cannot be a key of `partitionKeyDefinition`.
    Subset(const std::vector<nlohmann::json>& partitionKeys, const std::vector<nlohmann::json>& keys,
           const nlohmann::json& partitionKeyDefinition);

    bool Whole() const { return m_values.empty() && m_keys.empty(); }
    // Whether the item with this key ([id, values...], ItemKeyMaker's text) is in the subset.
    bool HoldsKey(std::string_view key) const;
    bool HoldsItem(std::string_view item) const { return Whole() || HoldsKey(m_maker.KeyOfText(item)); }
    // Whether a data file can hold an item of the subset: its key interval meets one of the
    // subset's (a file without an interval can hold any).
    bool MayHold(const DataFile& file) const;
    // The effective keys of the subset's values (none when they cannot be computed: any key).
    const std::vector<KeyInterval>& intervals() const { return m_intervals; }
    std::string Describe() const;  // for messages and the run's record name

private:
    std::vector<nlohmann::json> m_values;  // partition key values or prefixes
    KeySet m_keys;                          // whole keys, normalised
    std::vector<KeyInterval> m_intervals;   // effective keys of both; empty: not computable
    ItemKeyMaker m_maker{nlohmann::json::object()};
};

// The values of --partition-key options (JSON texts); throws ToolError for one that is not JSON.
std::vector<nlohmann::json> ParsePartitionKeys(const std::vector<std::string>& texts);

// The manifest with only the data files that can hold the subset (and their item count).
Manifest FilesOfSubset(Manifest manifest, const Subset& subset);

// The keys an --ids file names: one JSON array [id, partition key values...] per line (blank
// lines skipped), each as ItemKey's canonical text; throws ToolError naming the line otherwise.
std::vector<nlohmann::json> ReadIdsFile(const std::string& path);

}  // namespace cosmosbackup
