#include "format/LocationLayout.h"

#include "storage/StoreLock.h"
#include "storage/UnfinishedWrites.h"
#include "support/ToolError.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <utility>

namespace cosmosbackup {
namespace {

std::string HashedRecordName(const char* prefix, const std::string& identity, const char* suffix = ".json") {
    std::uint64_t hash = 1469598103934665603ULL;  // FNV-1a
    for (unsigned char c : identity) hash = (hash ^ c) * 1099511628211ULL;
    char name[64];
    std::snprintf(name, sizeof name, "%s%016llx%s", prefix, static_cast<unsigned long long>(hash), suffix);
    return name;
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string Tag(int shard) {
    char tag[16];
    std::snprintf(tag, sizeof tag, "s%04d", shard);
    return tag;
}

// NAME and the suffix a killed writer gave it ("" for a whole file).
std::pair<std::string, std::string> SplitUnfinished(const std::string& name) {
    const std::string partial = kUnfinishedWriteSuffix;
    if (name.size() > partial.size() && EndsWith(name, partial)) return {name.substr(0, name.size() - partial.size()), partial};
    const auto claim = name.rfind(kUnfinishedClaimSuffix);
    if (claim != std::string::npos && claim > 0) return {name.substr(0, claim), name.substr(claim)};
    return {name, ""};
}

std::string WholeLocationName(const std::string& tag, const std::string& name) {
    if (name == kManifestName) return "shard-" + tag + ".json";
    if (name == kCheckpointName) return "checkpoint-" + tag + ".json";
    if (name == kKeysFileName) return "keys-" + tag + ".jsonl.gz";
    if (name == kLiveKeysFileName) return "live-keys-" + tag + ".jsonl.gz";
    if (StartsWith(name, "checkpoint-")) return "checkpoint-" + tag + "-" + name.substr(11);
    if (StartsWith(name, "items-")) return "items-" + tag + "-" + name.substr(6);
    throw ToolError("a shard of a backup keeps no file named " + name);
}

std::optional<std::string> WholeShardName(const std::string& tag, const std::string& locationName) {
    if (locationName == "shard-" + tag + ".json") return std::string(kManifestName);
    if (locationName == "checkpoint-" + tag + ".json") return std::string(kCheckpointName);
    if (locationName == "keys-" + tag + ".jsonl.gz") return std::string(kKeysFileName);
    if (locationName == "live-keys-" + tag + ".jsonl.gz") return std::string(kLiveKeysFileName);
    if (StartsWith(locationName, "checkpoint-" + tag + "-")) return "checkpoint-" + locationName.substr(17);
    if (StartsWith(locationName, "items-" + tag + "-")) return "items-" + locationName.substr(12);
    return std::nullopt;
}

}  // namespace

std::string RangeCheckpointName(int range) {
    char name[40];
    std::snprintf(name, sizeof name, "checkpoint-r%04d.json", range);
    return name;
}

bool IsCheckpointName(const std::string& name) {
    return name.rfind("checkpoint", 0) == 0 && EndsWith(name, ".json");
}

std::optional<DataFileNameParts> ParseDataFileName(const std::string& name) {
    static const std::regex pattern("items-(?:s([0-9]{4})-)?(?:r([0-9]{4})-)?([0-9]{5,9})\\.jsonl\\.gz");
    std::smatch match;
    if (!std::regex_match(name, match, pattern)) return std::nullopt;
    DataFileNameParts parts;
    if (match[1].matched) parts.shard = std::stoi(match[1].str());
    if (match[2].matched) parts.range = std::stoi(match[2].str());
    parts.sequence = std::stoi(match[3].str());
    return parts;
}

bool IsDataFileName(const std::string& name) { return ParseDataFileName(name).has_value(); }

std::string DataFilePath(const std::string& directory, const std::string& name) {
    if (!IsDataFileName(name)) {
        throw ToolError("the manifest names a data file \"" + name +
                        "\" that is not one of this tool's (items-NNNNN.jsonl.gz, items-rRRRR-NNNNN.jsonl.gz, items-sIIII-rRRRR-NNNNN.jsonl.gz); the backup is not trusted");
    }
    return (std::filesystem::path(directory) / name).string();
}

std::string DataFileName(int index) {
    char name[32];
    std::snprintf(name, sizeof name, "items-%05d.jsonl.gz", index);
    return name;
}

std::string RangeDataFileName(int range, int sequence) {
    char name[48];
    std::snprintf(name, sizeof name, "items-r%04d-%05d.jsonl.gz", range, sequence);
    return name;
}

bool IsRangeDataFileOf(const std::string& name, int range) {
    const auto parts = ParseDataFileName(name);
    return parts && !parts->shard && parts->range == range && parts->sequence <= 99999 && name == RangeDataFileName(range, parts->sequence);
}

std::string ShardFileName(int shard, const std::string& name) {
    const auto [whole, suffix] = SplitUnfinished(name);
    return WholeLocationName(Tag(shard), whole) + suffix;
}

std::optional<std::string> ShardOwnName(int shard, const std::string& locationName) {
    const auto [whole, suffix] = SplitUnfinished(locationName);
    const auto name = WholeShardName(Tag(shard), whole);
    if (!name) return std::nullopt;
    return *name + suffix;
}

std::optional<int> ShardRecordOf(const std::string& locationName) {
    static const std::regex record("shard-s([0-9]{4})\\.json");
    std::smatch match;
    if (!std::regex_match(locationName, match, record)) return std::nullopt;
    return std::stoi(match[1].str());
}

std::optional<int> ShardCheckpointOf(const std::string& locationName) {
    static const std::regex checkpoint("checkpoint-s([0-9]{4})\\.json");
    std::smatch match;
    if (!std::regex_match(locationName, match, checkpoint)) return std::nullopt;
    return std::stoi(match[1].str());
}

bool IsShardFile(const std::string& locationName) {
    static const std::regex shardFile("(shard-run\\.json|shard-s[0-9]{4}\\.json|(live-)?keys-s[0-9]{4}\\.jsonl\\.gz|(checkpoint|items)-s[0-9]{4}[-.].*)");
    return std::regex_match(SplitUnfinished(locationName).first, shardFile);
}

std::string RestoreProgressName(const std::string& target) { return HashedRecordName(kRestoreProgressPrefix, target); }
std::string RestoreTargetName(const std::string& identity) { return HashedRecordName(kRestoreTargetPrefix, identity); }
std::string RestoreRidName(const std::string& identity) { return HashedRecordName(kRestoreRidPrefix, identity); }

std::optional<std::string> RestoreRecordPrefixOf(const std::string& name) {
    for (const char* prefix : {kRestoreProgressPrefix, kRestoreTargetPrefix, kRestoreRidPrefix}) {
        const std::string p = prefix;
        if (name.size() == p.size() + 16 + 5 && name.compare(0, p.size(), p) == 0 && name.compare(name.size() - 5, 5, ".json") == 0) {
            return p;
        }
    }
    return std::nullopt;
}

std::string ShardLockName(int shard, const std::string& lockName) {
    const std::string suffix = kLockSuffix;
    const std::string whole = EndsWith(lockName, suffix) ? lockName.substr(0, lockName.size() - suffix.size()) : lockName;
    return whole + "-" + Tag(shard) + suffix;
}

std::string RestoreLockName(const std::string& target) { return HashedRecordName("restore-", target, kLockSuffix); }

}  // namespace cosmosbackup
