#include "chain/Subset.h"

#include "service/EffectivePartitionKey.h"
#include "support/ToolError.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace cosmosbackup {
namespace {

nlohmann::json AsArray(const nlohmann::json& value) { return value.is_array() ? value : nlohmann::json::array({value}); }

// Whether `values` starts with every value of `prefix` (numbers compared by value).
bool StartsWith(const nlohmann::json& values, const nlohmann::json& prefix) {
    if (prefix.size() > values.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (values[i] != prefix[i]) return false;
    }
    return true;
}

// The effective keys of a value; none for a kind the tool cannot hash (its files are all read).
std::optional<KeyInterval> IntervalOfValues(const nlohmann::json& values, const nlohmann::json& definition) {
    const std::string kind = definition.value("kind", std::string("Hash"));
    if (kind != "Hash" && kind != "MultiHash") return std::nullopt;
    const auto keys = EffectiveKeysOf(values, definition);
    return KeyInterval{keys.min, keys.max};
}

}  // namespace

Subset::Subset(const std::vector<nlohmann::json>& partitionKeys, const std::vector<nlohmann::json>& keys,
               const nlohmann::json& definition)
    : m_maker(definition) {
    bool computable = true;
    std::vector<KeyInterval> intervals;
    const auto add = [&](const nlohmann::json& values) {
        const auto interval = IntervalOfValues(values, definition);
        if (interval) intervals.push_back(*interval);
        computable = computable && interval.has_value();
    };
    for (const auto& value : partitionKeys) {
        m_values.push_back(AsArray(value));
        add(m_values.back());
    }
    for (const auto& key : keys) {
        if (!key.is_array() || key.empty() || !key[0].is_string()) throw ToolError("an item is named by [id, partition key values...], not " + key.dump());
        add(nlohmann::json(key.begin() + 1, key.end()));
        m_keys.Add(key.dump());
    }
    m_keys.Normalise();
    if (computable) m_intervals = std::move(intervals);
}

bool Subset::HoldsKey(std::string_view key) const {
    if (Whole()) return true;
    if (m_keys.Contains(key)) return true;
    if (m_values.empty()) return false;
    const auto parsed = nlohmann::json::parse(key);
    const nlohmann::json values(parsed.begin() + 1, parsed.end());
    return std::any_of(m_values.begin(), m_values.end(), [&](const nlohmann::json& prefix) { return StartsWith(values, prefix); });
}

bool Subset::MayHold(const DataFile& file) const {
    if (Whole() || !file.keys || m_intervals.empty()) return true;
    return std::any_of(m_intervals.begin(), m_intervals.end(), [&](const KeyInterval& i) { return i.Meets(*file.keys); });
}

std::string Subset::Describe() const {
    std::string text;
    for (const auto& v : m_values) text += (text.empty() ? "" : " ") + v.dump();
    if (m_keys.empty()) return text;
    // The named keys' FNV-1a hash, so that two --ids files of as many items differ.
    std::uint64_t hash = 14695981039346656037ULL;
    for (const auto key : m_keys) {
        for (const char c : key) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
        hash = (hash ^ 0x0A) * 1099511628211ULL;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return text + (text.empty() ? "" : " ") + std::to_string(m_keys.size()) + " named items (" + hex + ")";
}

std::vector<nlohmann::json> ParsePartitionKeys(const std::vector<std::string>& texts) {
    std::vector<nlohmann::json> values;
    for (const auto& text : texts) {
        auto value = nlohmann::json::parse(text, nullptr, false);
        if (value.is_discarded()) throw ToolError("--partition-key takes JSON (\"tenant-1\" or [\"tenant-1\", \"user-7\"]), not " + text);
        values.push_back(std::move(value));
    }
    return values;
}

Manifest FilesOfSubset(Manifest manifest, const Subset& subset) {
    std::vector<DataFile> files;
    manifest.itemCount = 0;
    for (auto& file : manifest.files) {
        if (!subset.MayHold(file)) continue;
        manifest.itemCount += file.items;
        files.push_back(std::move(file));
    }
    manifest.files = std::move(files);
    return manifest;
}

std::vector<nlohmann::json> ReadIdsFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw ToolError("cannot read the ids file " + path);
    std::vector<nlohmann::json> keys;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        auto key = nlohmann::json::parse(line, nullptr, false);
        if (key.is_discarded() || !key.is_array() || key.size() < 2 || !key[0].is_string()) {
            throw ToolError(path + ": line " + std::to_string(number) + " is not [id, partition key values...]");
        }
        keys.push_back(std::move(key));
    }
    return keys;
}

}  // namespace cosmosbackup
