#include "format/Manifest.h"

#include "format/LocationLayout.h"
#include "support/ToolError.h"
#include "support/ToolVersion.h"

#include <algorithm>
#include <set>

namespace cosmosbackup {

std::optional<KeyInterval> KeyIntervalOf(const nlohmann::json& range) {
    const auto isHex = [](const nlohmann::json& bound) {
        return bound.is_string() && bound.get<std::string>().find_first_not_of("0123456789ABCDEF") == std::string::npos;
    };
    const auto min = range.find("minInclusive"), max = range.find("maxExclusive");
    if (min == range.end() || max == range.end() || !isHex(*min) || !isHex(*max)) return std::nullopt;
    return KeyInterval{min->get<std::string>(), max->get<std::string>()};
}

void to_json(nlohmann::json& j, const DataFile& f) {
    j = {{"name", f.name}, {"items", f.items}, {"bytes", f.bytes}, {"crc32", f.crc32}};
    if (!f.md5.empty()) j["md5"] = f.md5;
    if (f.keys) j["effectiveKeys"] = {{"minInclusive", f.keys->minInclusive}, {"maxExclusive", f.keys->maxExclusive}};
}

namespace {

// Longer than any bound the service gives (a version 1 key holds at most about 110 bytes).
constexpr std::size_t kMaxKeyBoundChars = 1024;

// An effective key bound as the service writes them: upper-case hex, of a sane length.
std::string KeyBound(const nlohmann::json& j, const char* name) {
    const std::string bound = j.at(name).get<std::string>();
    const bool hex = bound.find_first_not_of("0123456789ABCDEF") == std::string::npos;
    if (!hex || bound.size() > kMaxKeyBoundChars) throw ToolError("a data file's key interval has the bound \"" + bound.substr(0, 80) + "\"");
    return bound;
}

}  // namespace

void from_json(const nlohmann::json& j, DataFile& f) {
    j.at("name").get_to(f.name);
    j.at("items").get_to(f.items);
    j.at("bytes").get_to(f.bytes);
    j.at("crc32").get_to(f.crc32);
    f.md5 = j.contains("md5") ? j.at("md5").get<std::string>() : std::string();
    f.keys.reset();
    if (j.contains("effectiveKeys")) {
        const auto& keys = j.at("effectiveKeys");
        f.keys = KeyInterval{KeyBound(keys, "minInclusive"), KeyBound(keys, "maxExclusive")};
        if (!(f.keys->minInclusive < f.keys->maxExclusive)) throw ToolError("data file " + f.name + " has an empty key interval");
    }
}

void to_json(nlohmann::json& j, const ThroughputLayout& t) {
    j = {{"layout", t.scope}, {"serverless", t.serverless}, {"manual", t.manual}, {"autoscaleMax", t.autoscaleMax}};
}

void from_json(const nlohmann::json& j, ThroughputLayout& t) {
    j.at("manual").get_to(t.manual);
    j.at("autoscaleMax").get_to(t.autoscaleMax);
    // Version 1 knew only the container's own offer.
    t.scope = j.value("layout", std::string(t.manual > 0 || t.autoscaleMax > 0 ? ThroughputLayout::kOwn : ThroughputLayout::kNone));
    t.serverless = j.value("serverless", false);
    if (t.scope != ThroughputLayout::kOwn && t.scope != ThroughputLayout::kShared && t.scope != ThroughputLayout::kNone) {
        throw ToolError("unknown throughput layout \"" + t.scope + "\"");
    }
}

std::string DescribeLayout(const ThroughputLayout& layout) {
    if (layout.scope == ThroughputLayout::kNone) return layout.serverless ? "no throughput (serverless)" : "no throughput";
    const std::string amount = layout.autoscaleMax > 0 ? "autoscale up to " + std::to_string(layout.autoscaleMax) + " RU/s"
                                                       : std::to_string(layout.manual) + " RU/s";
    return (layout.scope == ThroughputLayout::kShared ? "the database's shared " : "its own ") + amount;
}

void to_json(nlohmann::json& j, const Manifest& m) {
    j = {
        {"formatVersion", m.formatVersion},
        {"createdAt", m.createdAt},
        {"source", {{"endpoint", m.sourceEndpoint}, {"database", m.sourceDatabase}, {"container", m.sourceContainer}}},
        {"partitionKey", m.partitionKey},
        {"indexingPolicy", m.indexingPolicy},
        {"container", m.container},
        {"throughput", m.throughput},
        {"defaultTtl", m.defaultTtl},
        {"scripts", m.scripts},
        {"scriptCount", m.scriptCount},
        {"itemCount", m.itemCount},
        {"files", m.files},
    };
    if (!m.chain.is_null()) j["chain"] = m.chain;
    if (!m.toolVersion.empty()) j["toolVersion"] = m.toolVersion;
    if (m.requestCharge >= 0) j["requestCharge"] = m.requestCharge;
    if (m.seconds >= 0) j["seconds"] = m.seconds;
}

void from_json(const nlohmann::json& j, Manifest& m) {
    j.at("formatVersion").get_to(m.formatVersion);
    j.at("createdAt").get_to(m.createdAt);
    const auto& source = j.at("source");
    source.at("endpoint").get_to(m.sourceEndpoint);
    source.at("database").get_to(m.sourceDatabase);
    source.at("container").get_to(m.sourceContainer);
    m.partitionKey = j.at("partitionKey");
    m.indexingPolicy = j.at("indexingPolicy");
    m.container = j.value("container", nlohmann::json());
    if (!m.container.is_null() && !m.container.is_object()) throw ToolError("the container definition is not an object");
    j.at("throughput").get_to(m.throughput);
    j.at("defaultTtl").get_to(m.defaultTtl);
    m.scripts = j.at("scripts");
    j.at("scriptCount").get_to(m.scriptCount);
    j.at("itemCount").get_to(m.itemCount);
    j.at("files").get_to(m.files);
    m.chain = j.value("chain", nlohmann::json());
    m.toolVersion = j.value("toolVersion", std::string());
    m.requestCharge = j.value("requestCharge", -1.0);
    m.seconds = j.value("seconds", -1.0);
}

void WriteManifest(BackupStore& store, const Manifest& manifest) {
    // The store's commit makes the manifest appear whole and durable; the data files it vouches
    // for were committed (and made durable) before.
    nlohmann::json j = manifest;
    j["toolVersion"] = ToolVersion();
    const std::string text = j.dump(2) + "\n";
    auto writer = store.OpenWrite(kManifestName);
    writer->Write(text.data(), text.size());
    writer->Commit();
}

namespace {

std::string ReadManifestText(const BackupStore& store, const std::string& where) {
    const auto files = store.List();
    const auto found = std::find_if(files.begin(), files.end(), [](const StoredFile& f) { return f.name == kManifestName; });
    if (found == files.end()) {
        throw ToolError(store.Describe() + " has no " + kManifestName + ": the backup is incomplete or not a backup");
    }
    if (!found->plain) throw ToolError(where + " is not a regular file");
    const auto tooLarge = [&](std::uint64_t size) {
        return ToolError(where + " has " + std::to_string(size) + " bytes, more than a manifest may have (" +
                         std::to_string(kMaxManifestBytes) + ")");
    };
    if (static_cast<std::uint64_t>(found->size) > kMaxManifestBytes) throw tooLarge(found->size);
    std::string text;
    auto reader = store.OpenRead(kManifestName);
    char chunk[1 << 16];
    while (const auto got = reader->Read(chunk, sizeof chunk)) {
        text.append(chunk, got);
        if (text.size() > kMaxManifestBytes) throw tooLarge(text.size());  // grew since it was listed
    }
    return text;
}

void CheckFileNames(const Manifest& manifest) {
    std::set<std::string> seen;
    for (const auto& file : manifest.files) {
        DataFilePath("", file.name);  // throws for a name that is not the tool's own
        if (!seen.insert(file.name).second) throw ToolError("it names the data file " + file.name + " twice");
        if (file.items < 0 || file.bytes < 0) throw ToolError("it gives " + file.name + " a negative size or count");
    }
}

}  // namespace

Manifest ReadManifest(const BackupStore& store) {
    const auto path = store.Describe() + "/" + kManifestName;
    const std::string text = ReadManifestText(store, path);
    try {
        Manifest manifest = nlohmann::json::parse(text).get<Manifest>();
        if (manifest.formatVersion < Manifest::kOldestFormatVersion || manifest.formatVersion > Manifest::kChainFormatVersion) {
            throw ToolError("format version " + std::to_string(manifest.formatVersion) +
                            "; this tool reads versions " + std::to_string(Manifest::kOldestFormatVersion) + " to " +
                            std::to_string(Manifest::kChainFormatVersion));
        }
        const bool increment = manifest.chain.is_object() && manifest.chain.value("kind", std::string()) == "incremental";
        if ((manifest.formatVersion == Manifest::kChainFormatVersion) != increment) {
            throw ToolError("format version " + std::to_string(manifest.formatVersion) + (increment ? " for an increment of a chain"
                            : "; only increments of a chain have version " + std::to_string(Manifest::kChainFormatVersion)));
        }
        CheckFileNames(manifest);
        return manifest;
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(path + " is not a valid manifest: " + e.what());
    } catch (const ToolError& e) {
        throw ToolError(path + ": " + e.what());
    }
}

}  // namespace cosmosbackup
