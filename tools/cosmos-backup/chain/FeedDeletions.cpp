#include "chain/FeedDeletions.h"

#include "support/ParallelFor.h"
#include "support/ToolError.h"
#include "support/UtcTime.h"

#include <algorithm>
#include <unordered_map>

namespace cosmosbackup {
namespace {

struct PartDeletions {
    std::optional<std::string> unavailable;
    KeySet deleted;
    std::vector<nlohmann::json> reached;
    std::int64_t changes = 0;
    RequestUsage usage;
};

// The reached positions a finished read's last continuation lists; none when it lists none.
std::vector<nlohmann::json> ReachedPositions(const std::string& continuation) {
    const auto end = nlohmann::json::parse(continuation, nullptr, false);
    std::vector<nlohmann::json> reached;
    if (!end.is_object() || !end.contains("reached") || !end["reached"].is_array()) return reached;
    for (const auto& part : end["reached"]) {
        if (!part.is_object() || !part.contains("id") || !part.contains("etag") || !part["etag"].is_string()) return {};
        reached.push_back(part);
    }
    return reached;
}

// One part's changes in the feed's order: a key's last change decides whether it is deleted.
PartDeletions ReadDeletionsOfPart(const LiveKeyRead& read, const nlohmann::json& position) {
    PartDeletions part;
    Connection connection(read.connection);
    auto& bridge = connection.bridge();
    connection.Require(bridge.OpenCosmosDBContainer("", read.database, false, read.container, ""),
                       "cannot open " + read.database + "/" + read.container);
    const nlohmann::json start = {{"id", position.at("id")},
                                  {"minInclusive", position.value("minInclusive", std::string())},
                                  {"maxExclusive", position.value("maxExclusive", std::string("FF"))},
                                  {"read", "allVersions"},
                                  {"since", position.at("etag")}};
    std::unordered_map<std::string, bool> lastIsDeletion;
    std::vector<CloudSDKCppBridge::SString> page;
    std::string continuation = start.dump(), next;
    for (bool more = true; more; continuation = next) {
        page.clear();
        connection.Require(bridge.GetCosmosDBData(continuation, read.pageSize, next, more, page),
                           "cannot read the all versions and deletes change feed of range " + position.value("id", std::string()));
        for (const auto& text : page) {
            const auto change = nlohmann::json::parse(text.strValue, nullptr, false);
            if (change.is_object() && change.contains("unavailable")) {
                part.unavailable = change["unavailable"].is_string() ? change["unavailable"].get<std::string>() : change["unavailable"].dump();
                part.usage = ReadUsage(connection);
                return part;
            }
            if (!change.is_object() || !change.contains("key") || !change.contains("operationType")) {
                throw ToolError("the wrapper's change of the all versions and deletes feed is not readable: " + text.strValue.substr(0, 200));
            }
            lastIsDeletion[CanonicalKey(change["key"].dump())] = change["operationType"] == "delete";
            ++part.changes;
        }
    }
    part.reached = ReachedPositions(continuation);
    if (part.reached.empty()) throw ToolError("the all versions and deletes change feed read of range " + position.value("id", std::string()) + " did not say where it ended");
    for (const auto& [key, deleted] : lastIsDeletion) {
        if (deleted) part.deleted.Add(key);
    }
    part.deleted.Normalise();
    part.usage = ReadUsage(connection);
    return part;
}

}  // namespace

FeedDeletions ReadFeedDeletions(const LiveKeyRead& read, const ChangeFeedPositions& since) {
    std::vector<PartDeletions> parts(since.ranges.size());
    ParallelFor(parts.size(), static_cast<std::size_t>(std::max(1, read.parallelism)), [&](std::size_t i) {
        const SemaphoreHold slot(read.readerSlots);
        parts[i] = ReadDeletionsOfPart(read, since.ranges[i]);
    });
    FeedDeletions result;
    result.reached.at = UtcNow();
    for (auto& part : parts) {
        result.usage += part.usage;
        if (part.unavailable && !result.unavailable) result.unavailable = part.unavailable;
        result.changes += part.changes;
        for (const auto key : part.deleted) result.deleted.Add(key);
        for (auto& position : part.reached) result.reached.ranges.push_back(std::move(position));
    }
    if (result.unavailable) {
        result.deleted = KeySet();
        result.reached.ranges.clear();
    }
    result.deleted.Normalise();
    return result;
}

}  // namespace cosmosbackup
