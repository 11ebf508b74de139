#include "chain/ChainRecord.h"

#include "chain/KeySet.h"
#include "format/LocationLayout.h"
#include "format/DurableFile.h"
#include "storage/Digest.h"
#include "support/ToolError.h"
#include "support/UtcTime.h"

namespace cosmosbackup {

// Found by argument-dependent lookup: in the namespace of LinkReference.
void to_json(nlohmann::json& j, const LinkReference& l) { j = {{"path", l.path}, {"manifestSha256", l.manifestSha256}}; }

void from_json(const nlohmann::json& j, LinkReference& l) {
    j.at("path").get_to(l.path);
    j.at("manifestSha256").get_to(l.manifestSha256);
}

namespace {

constexpr long long kChangeFeedPositionsCode = -4;

}  // namespace

nlohmann::json PositionsJson(const ChangeFeedPositions& p) { return {{"at", p.at}, {"ranges", p.ranges}}; }

ChangeFeedPositions PositionsOf(const nlohmann::json& j) {
    ChangeFeedPositions p;
    try {
        j.at("at").get_to(p.at);
        for (const auto& range : j.at("ranges")) {
            if (!range.is_object() || !range.at("id").is_string() || !range.at("etag").is_string()) {
                throw ToolError("a change feed position has no range id or etag");
            }
            p.ranges.push_back(range);
        }
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(std::string("the change feed positions are not readable: ") + e.what());
    }
    return p;
}

ChainRecord ChainOf(const Manifest& manifest) {
    ChainRecord c;
    const auto& j = manifest.chain;
    if (j.is_null()) return c;
    try {
        j.at("kind").get_to(c.kind);
        if (c.kind != ChainRecord::kFull && c.kind != ChainRecord::kIncremental) throw ToolError("unknown chain kind \"" + c.kind + "\"");
        c.changeFeed = PositionsOf(j.at("changeFeed"));
        if (j.contains("allVersionsFeed")) c.allVersions = PositionsOf(j.at("allVersionsFeed"));
        j.at("keys").get_to(c.keys);
        if (c.keys.name != kKeysFileName) throw ToolError("the keys file must be " + std::string(kKeysFileName));
        if (c.IsIncrement()) {
            j.at("deletions").get_to(c.deletions);
            if (c.deletions.name != kDeletionsFileName) throw ToolError("the deletions file must be " + std::string(kDeletionsFileName));
            j.at("parent").get_to(c.parent);
            j.at("base").get_to(c.base);
            j.at("length").get_to(c.length);
            if (c.length < 2) throw ToolError("an increment's chain length is at least 2");
        }
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(std::string("the manifest's chain record is not readable: ") + e.what());
    }
    return c;
}

void SetChain(Manifest& manifest, const ChainRecord& c) {
    nlohmann::json j = {{"kind", c.kind}, {"changeFeed", PositionsJson(c.changeFeed)}, {"keys", c.keys}};
    if (c.allVersions) j["allVersionsFeed"] = PositionsJson(*c.allVersions);
    if (c.IsIncrement()) {
        j["deletions"] = c.deletions;
        j["parent"] = c.parent;
        j["base"] = c.base;
        j["length"] = c.length;
        // A tool that does not know chains must not take an increment for a whole backup.
        manifest.formatVersion = Manifest::kChainFormatVersion;
    }
    manifest.chain = std::move(j);
}

ChangeFeedPositions ReadChangeFeedPositions(Connection& connection) {
    ChangeFeedPositions positions;
    positions.at = UtcNow();
    std::vector<CloudSDKCppBridge::SString> texts;
    connection.Require(connection.bridge().GetCosmosDBTokens(kChangeFeedPositionsCode, texts),
                       "cannot read the change feed positions (the managed wrapper must be as new as this tool)");
    for (const auto& text : texts) {
        auto range = nlohmann::json::parse(text.strValue, nullptr, false);
        if (range.is_discarded() || !range.is_object() || !range.contains("etag")) {
            throw ToolError("the wrapper's change feed position is not readable: " + text.strValue);
        }
        positions.ranges.push_back(std::move(range));
    }
    return positions;
}

std::optional<ChangeFeedPositions> AllVersionsPositions(const ChangeFeedPositions& positions) {
    ChangeFeedPositions allVersions;
    allVersions.at = positions.at;
    for (auto range : positions.ranges) {
        const auto etag = range.find("allVersionsEtag");
        if (etag == range.end() || !etag->is_string()) return std::nullopt;
        range["etag"] = *etag;
        range.erase("allVersionsEtag");
        allVersions.ranges.push_back(std::move(range));
    }
    if (allVersions.ranges.empty()) return std::nullopt;
    return allVersions;
}

void RecordChainBase(BackupStore& store, Manifest& manifest, const ChangeFeedPositions& positions, const std::vector<KeySet>& parts) {
    ChainRecord chain;
    chain.kind = ChainRecord::kFull;
    chain.changeFeed = positions;
    chain.allVersions = AllVersionsPositions(positions);
    MergedKeys keys(parts);
    chain.keys = WriteKeyFile(store, kKeysFileName, keys);
    SetChain(manifest, chain);
}

std::string ManifestSha256(const BackupStore& store) {
    const auto text = ReadSmallFile(store, kManifestName, kMaxManifestBytes);
    if (!text) throw ToolError(store.Describe() + " has no " + kManifestName);
    return Sha256Hex(*text);
}

void CheckSealedCounts(const Manifest& manifest, const std::string& where) {
    std::int64_t inFiles = 0;
    for (const auto& file : manifest.files) inFiles += file.items;
    if (inFiles != manifest.itemCount) {
        throw ToolError(where + " gives " + std::to_string(manifest.itemCount) + " items, its data files " + std::to_string(inFiles) +
                        ": the backup is damaged");
    }
    const ChainRecord chain = ChainOf(manifest);
    if (chain.kind == ChainRecord::kFull && !chain.keys.name.empty() && chain.keys.items != manifest.itemCount) {
        throw ToolError(where + " gives " + std::to_string(manifest.itemCount) + " items, its key file " + chain.keys.name + " " +
                        std::to_string(chain.keys.items) + ": items are missing from the backup");
    }
}

}  // namespace cosmosbackup
