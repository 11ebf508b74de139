#include "format/ShardView.h"

#include "format/LocationLayout.h"
#include "storage/UnfinishedWrites.h"
#include "support/ToolError.h"

#include <cstdio>
#include <cstdlib>
#include <regex>

namespace cosmosbackup {
namespace {

constexpr int kMaxShards = 9999;

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

std::string ShardView::LocationName(int shard, const std::string& name) { return ShardFileName(shard, name); }

std::optional<std::string> ShardView::ShardName(int shard, const std::string& locationName) { return ShardOwnName(shard, locationName); }

std::optional<int> ShardView::RecordOf(const std::string& locationName) { return ShardRecordOf(locationName); }

bool ShardView::IsShardFile(const std::string& locationName) { return cosmosbackup::IsShardFile(locationName); }

std::string ShardView::Describe() const { return m_location->Describe() + " (shard " + std::to_string(m_shard) + ")"; }

void ShardView::CreateNew() {
    for (const auto& file : m_location->List()) {
        if (file.name == kManifestName) throw ToolError(m_location->Describe() + " holds a finished backup; give a new location");
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
    return m_location->TryLock(ShardLockName(m_shard, name), owner, holder);
}

}  // namespace cosmosbackup
