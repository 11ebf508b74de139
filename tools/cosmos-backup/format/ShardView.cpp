#include "format/ShardView.h"

#include "storage/UnfinishedWrites.h"
#include "support/ToolError.h"

#include <cstdio>
#include <cstdlib>
#include <regex>

namespace cosmosbackup {
namespace {

constexpr int kMaxShards = 9999;

std::string Tag(int shard) {
    char tag[16];
    std::snprintf(tag, sizeof tag, "s%04d", shard);
    return tag;
}

int ParseCount(const std::string& text, const std::string& what) {
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos) {
        throw ToolError(what + " is \"" + text + "\", not a number from 0 to " + std::to_string(kMaxShards));
    }
    return std::atoi(text.c_str());
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

ShardSpec Checked(ShardSpec shard) {
    if (shard.count < 1 || shard.index >= shard.count) {
        throw ToolError("shard " + shard.Describe() + " does not exist: the index must be below the count");
    }
    return shard;
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

// NAME and the suffix a killed writer gave it ("" for a whole file).
std::pair<std::string, std::string> SplitUnfinished(const std::string& name) {
    const std::string partial = kUnfinishedWriteSuffix;
    if (name.size() > partial.size() && name.compare(name.size() - partial.size(), partial.size(), partial) == 0) {
        return {name.substr(0, name.size() - partial.size()), partial};
    }
    const auto claim = name.rfind(kUnfinishedClaimSuffix);
    if (claim != std::string::npos && claim > 0) return {name.substr(0, claim), name.substr(claim)};
    return {name, ""};
}

std::string WholeLocationName(const std::string& tag, const std::string& name) {
    if (name == "manifest.json") return "shard-" + tag + ".json";
    if (name == "checkpoint.json") return "checkpoint-" + tag + ".json";
    if (name == "keys.jsonl.gz") return "keys-" + tag + ".jsonl.gz";
    if (name == "live-keys.jsonl.gz") return "live-keys-" + tag + ".jsonl.gz";
    if (StartsWith(name, "checkpoint-")) return "checkpoint-" + tag + "-" + name.substr(11);
    if (StartsWith(name, "items-")) return "items-" + tag + "-" + name.substr(6);
    throw ToolError("a shard of a backup keeps no file named " + name);
}

std::optional<std::string> WholeShardName(const std::string& tag, const std::string& locationName) {
    if (locationName == "shard-" + tag + ".json") return std::string("manifest.json");
    if (locationName == "checkpoint-" + tag + ".json") return std::string("checkpoint.json");
    if (locationName == "keys-" + tag + ".jsonl.gz") return std::string("keys.jsonl.gz");
    if (locationName == "live-keys-" + tag + ".jsonl.gz") return std::string("live-keys.jsonl.gz");
    if (StartsWith(locationName, "checkpoint-" + tag + "-")) return "checkpoint-" + locationName.substr(17);
    if (StartsWith(locationName, "items-" + tag + "-")) return "items-" + locationName.substr(12);
    return std::nullopt;
}

}  // namespace

ShardSpec ParseShard(const std::string& text, int autoCount) {
    if (text != "auto") {
        const auto slash = text.find('/');
        if (slash == std::string::npos) throw ToolError("--shard takes I/N (for example 0/4) or auto, not \"" + text + "\"");
        return Checked({ParseCount(text.substr(0, slash), "the shard index"), ParseCount(text.substr(slash + 1), "the shard count")});
    }
    if (!Env("SLURM_ARRAY_TASK_ID").empty()) {
        // A Slurm array's ids are its indices as given (--array=0-3); the count is the number of tasks.
        return Checked({ParseCount(Env("SLURM_ARRAY_TASK_ID"), "SLURM_ARRAY_TASK_ID"),
                        ParseCount(Env("SLURM_ARRAY_TASK_COUNT"), "SLURM_ARRAY_TASK_COUNT")});
    }
    if (!Env("JOB_COMPLETION_INDEX").empty()) {
        if (autoCount < 1) throw ToolError("--shard auto under a Kubernetes Indexed Job needs the count: --shards N (the Job's completions)");
        return Checked({ParseCount(Env("JOB_COMPLETION_INDEX"), "JOB_COMPLETION_INDEX"), autoCount});
    }
    throw ToolError("--shard auto found neither SLURM_ARRAY_TASK_ID (a Slurm job array) nor JOB_COMPLETION_INDEX "
                    "(a Kubernetes Indexed Job) in the environment; give --shard I/N");
}

ShardView::ShardView(std::shared_ptr<BackupStore> location, int shard) : m_location(std::move(location)), m_shard(shard) {}

std::string ShardView::LocationName(int shard, const std::string& name) {
    const auto [whole, suffix] = SplitUnfinished(name);
    return WholeLocationName(Tag(shard), whole) + suffix;
}

std::optional<std::string> ShardView::ShardName(int shard, const std::string& locationName) {
    const auto [whole, suffix] = SplitUnfinished(locationName);
    const auto name = WholeShardName(Tag(shard), whole);
    if (!name) return std::nullopt;
    return *name + suffix;
}

std::optional<int> ShardView::RecordOf(const std::string& locationName) {
    static const std::regex record("shard-s([0-9]{4})\\.json");
    std::smatch match;
    if (!std::regex_match(locationName, match, record)) return std::nullopt;
    return std::atoi(match[1].str().c_str());
}

bool ShardView::IsShardFile(const std::string& locationName) {
    static const std::regex shardFile("(shard-run\\.json|shard-s[0-9]{4}\\.json|(live-)?keys-s[0-9]{4}\\.jsonl\\.gz|(checkpoint|items)-s[0-9]{4}[-.].*)");
    return std::regex_match(SplitUnfinished(locationName).first, shardFile);
}

std::string ShardView::Describe() const { return m_location->Describe() + " (shard " + std::to_string(m_shard) + ")"; }

void ShardView::CreateNew() {
    for (const auto& file : m_location->List()) {
        if (file.name == "manifest.json") throw ToolError(m_location->Describe() + " holds a finished backup; give a new location");
        if (!IsShardFile(file.name)) {
            throw ToolError(m_location->Describe() + " holds " + file.name +
                            ", which is no shard's; give a new location for a sharded backup");
        }
    }
    // Several shards may find the location absent at once: creating an empty one is then no error.
    try {
        m_location->CreateNew();
    } catch (const ToolError&) {
        for (const auto& file : m_location->List()) {
            if (!IsShardFile(file.name)) throw;
        }
    }
}

std::vector<StoredFile> ShardView::List() const {
    std::vector<StoredFile> files;
    for (auto file : m_location->List()) {
        if (auto name = ShardName(m_shard, file.name)) {
            file.name = *name;
            files.push_back(file);
        }
    }
    return files;
}

std::unique_ptr<StoredFileReader> ShardView::OpenRead(const std::string& name) const {
    return m_location->OpenRead(LocationName(m_shard, name));
}

std::unique_ptr<StoredFileWriter> ShardView::OpenWrite(const std::string& name) {
    return m_location->OpenWrite(LocationName(m_shard, name));
}

void ShardView::Remove(const std::string& name) { m_location->Remove(LocationName(m_shard, name)); }

bool ShardView::CreateExclusive(const std::string& name, const std::string& content) {
    return m_location->CreateExclusive(LocationName(m_shard, name), content);
}

std::unique_ptr<BackupStore> ShardView::Below(const std::string& name) const {
    return std::make_unique<ShardView>(std::shared_ptr<BackupStore>(m_location->Below(name)), m_shard);
}

std::unique_ptr<StoreLock> ShardView::TryLock(const std::string& name, const std::string& owner, std::string& holder) {
    RequireLockName(name);
    const std::string whole = name.substr(0, name.size() - std::string(kLockSuffix).size());
    return m_location->TryLock(whole + "-" + Tag(m_shard) + kLockSuffix, owner, holder);
}

}  // namespace cosmosbackup
