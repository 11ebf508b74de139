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

std::vector<nlohmann::json> NarrowedToSlice(const std::vector<nlohmann::json>& parts, const KeySlice& slice) {
    std::vector<nlohmann::json> narrowed;
    if (slice.Empty()) return narrowed;
    for (const auto& part : parts) {
        const std::string from = std::max(part.value("minInclusive", std::string(kSliceSpaceStart)), slice.min);
        const std::string to = std::min(part.value("maxExclusive", std::string(kSliceSpaceEnd)), slice.max);
        if (from >= to) continue;
        auto inSlice = part;
        inSlice["minInclusive"] = from;
        inSlice["maxExclusive"] = to;
        narrowed.push_back(std::move(inSlice));
    }
    return narrowed;
}

std::vector<ReadPart> NarrowedToSlice(const std::vector<ReadPart>& parts, const KeySlice& slice) {
    std::vector<ReadPart> narrowed;
    if (slice.Empty()) return narrowed;
    for (const auto& part : parts) {
        ReadPart inSlice = part;
        inSlice.minInclusive = std::max(part.minInclusive, slice.min);
        inSlice.maxExclusive = std::min(part.maxExclusive, slice.max);
        if (inSlice.minInclusive >= inSlice.maxExclusive) continue;
        narrowed.push_back(std::move(inSlice));
    }
    return narrowed;
}

std::vector<ReadPart> PartsInSlice(const std::vector<nlohmann::json>& ranges, const KeySlice& slice) {
    std::vector<ReadPart> parts;
    for (const auto& range : NarrowedToSlice(ranges, slice)) {
        ReadPart part;
        part.id = range.value("id", std::string());
        range.at("minInclusive").get_to(part.minInclusive);
        range.at("maxExclusive").get_to(part.maxExclusive);
        parts.push_back(std::move(part));
    }
    return parts;
}

}  // namespace cosmosbackup
