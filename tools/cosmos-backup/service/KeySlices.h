#pragma once

#include "format/ReadPart.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace cosmosbackup {

// One of N contiguous intervals [min, max) of a container's whole effective-key space ("" to
// "FF"), cut where the keys of its partition key kind lie (EffectiveKeyCuts.h), so that the
// slices hold about equal shares of the items. The slices depend on the partition key
// definition only, never on the physical ranges, so they stay the same through splits and
// merges; together they cover the key space, each key in exactly one. A slice may be empty
// (min == max) when the key kind cannot be cut that finely (an unknown kind: all in slice 0).
struct KeySlice {
    std::string min;
    std::string max;
    bool Empty() const { return min == max; }
};

KeySlice SliceOfKeySpace(const nlohmann::json& partitionKey, int index, int count);

// The parts reading the items of `ranges` ({"id","minInclusive","maxExclusive"}, in key order)
// that lie in `slice`: each of the range that holds it now, narrowed to the slice; empty parts
// are left out.
std::vector<ReadPart> PartsInSlice(const std::vector<nlohmann::json>& ranges, const KeySlice& slice);
// Each part that meets the slice, its bounds narrowed to the slice (a change feed part keeps its position).
std::vector<ReadPart> NarrowedToSlice(const std::vector<ReadPart>& parts, const KeySlice& slice);
// The same for change feed positions ({"id","minInclusive","maxExclusive","etag", ...}), every member kept.
std::vector<nlohmann::json> NarrowedToSlice(const std::vector<nlohmann::json>& positions, const KeySlice& slice);

}  // namespace cosmosbackup
