#include "service/KeySlices.h"

#include "service/EffectiveKeyCuts.h"
#include "support/ToolError.h"

#include <algorithm>

namespace cosmosbackup {
namespace {

constexpr const char* kSliceSpaceStart = "";
constexpr const char* kSliceSpaceEnd = "FF";

}  // namespace

KeySlice SliceOfKeySpace(const nlohmann::json& partitionKey, int index, int count) {
    if (count < 1 || index < 0 || index >= count) {
        throw ToolError("shard " + std::to_string(index) + " of " + std::to_string(count) + " does not exist");
    }
    const auto cuts = CutPoints(kSliceSpaceStart, kSliceSpaceEnd, partitionKey, count);
    // cuts[k - 1] starts slice k; slices past the last cut are empty, at the end of the space.
    const auto bound = [&cuts](int k) -> std::string {
        if (k <= 0) return kSliceSpaceStart;
        if (k > static_cast<int>(cuts.size())) return kSliceSpaceEnd;
        return cuts[static_cast<std::size_t>(k - 1)];
    };
    return KeySlice{bound(index), bound(index + 1)};
}

std::vector<nlohmann::json> PartsInSlice(const std::vector<nlohmann::json>& ranges, const KeySlice& slice) {
    std::vector<nlohmann::json> parts;
    if (slice.Empty()) return parts;
    for (const auto& range : ranges) {
        const std::string min = range.value("minInclusive", std::string(kSliceSpaceStart));
        const std::string max = range.value("maxExclusive", std::string(kSliceSpaceEnd));
        const std::string from = std::max(min, slice.min);
        const std::string to = std::min(max, slice.max);
        if (from < to) parts.push_back({{"id", range.value("id", std::string())}, {"minInclusive", from}, {"maxExclusive", to}});
    }
    return parts;
}

}  // namespace cosmosbackup
