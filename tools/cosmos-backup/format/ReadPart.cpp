#include "format/ReadPart.h"

namespace cosmosbackup {

void to_json(nlohmann::json& j, const ReadPart& part) {
    j = {{"id", part.id}, {"minInclusive", part.minInclusive}, {"maxExclusive", part.maxExclusive}};
    if (!part.read.empty()) j["read"] = part.read;
    if (!part.since.empty()) j["since"] = part.since;
}

void from_json(const nlohmann::json& j, ReadPart& part) {
    j.at("id").get_to(part.id);
    part.minInclusive = j.value("minInclusive", std::string());
    part.maxExclusive = j.value("maxExclusive", std::string("FF"));
    part.read = j.value("read", std::string());
    part.since = j.value("since", std::string());
}

ReadPart ItemsOfRange(const nlohmann::json& range) {
    ReadPart part;
    range.at("id").get_to(part.id);
    range.at("minInclusive").get_to(part.minInclusive);
    range.at("maxExclusive").get_to(part.maxExclusive);
    return part;
}

std::vector<ReadPart> ItemsOfRanges(const std::vector<nlohmann::json>& ranges) {
    std::vector<ReadPart> parts;
    for (const auto& range : ranges) parts.push_back(ItemsOfRange(range));
    return parts;
}

ReadPart ChangesOfRange(const nlohmann::json& position) {
    ReadPart part;
    position.at("id").get_to(part.id);
    part.minInclusive = position.value("minInclusive", std::string());
    part.maxExclusive = position.value("maxExclusive", std::string("FF"));
    part.read = ReadPart::kChanges;
    position.at("etag").get_to(part.since);
    return part;
}

}  // namespace cosmosbackup
