#include "format/BackupCheckpoint.h"

#include "format/DurableFile.h"
#include "support/ToolError.h"

#include <cstdio>

namespace cosmosbackup {
namespace {

constexpr std::size_t kCheckpointLimit = 64 * 1024 * 1024;
std::string PathIn(const BackupStore& store, const std::string& name) { return store.Describe() + "/" + name; }

// The checkpoint `name` of the backup in `store`, or nothing.
std::optional<nlohmann::json> ParseCheckpoint(const BackupStore& store, const std::string& name) {
    const auto text = ReadSmallFile(store, name, kCheckpointLimit);
    if (!text) return std::nullopt;
    try {
        return nlohmann::json::parse(*text);
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(PathIn(store, name) + " is not a valid checkpoint: " + e.what());
    }
}

}  // namespace

std::string BackupCheckpointText(const BackupCheckpoint& c) {
    const nlohmann::json j = {
        {"checkpointVersion", BackupCheckpoint::kVersion},
        {"kind", c.kind},
        {"source", {{"endpoint", c.endpoint}, {"database", c.database}, {"container", c.container}}},
        {"createdAt", c.createdAt},
        {"pageSize", c.pageSize},
        {"itemsPerFile", c.itemsPerFile},
        {"parallelism", c.parallelism},
        {"positions", c.positions},
        {"parent", {{"path", c.parentPath}, {"manifestSha256", c.parentManifestSha256}}},
        {"ranges", c.ranges},
    };
    return j.dump(1) + "\n";
}

BackupCheckpoint ReadBackupCheckpoint(const BackupStore& store) {
    const auto path = PathIn(store, kCheckpointName);
    const auto parsed = ParseCheckpoint(store, kCheckpointName);
    if (!parsed) throw ToolError(store.Describe() + " has no " + kCheckpointName + ": it is not an interrupted backup");
    const auto& j = *parsed;
    try {
        BackupCheckpoint c;
        if (j.at("checkpointVersion").get<int>() != BackupCheckpoint::kVersion) {
            throw ToolError(path + " was written by another version of the tool; take the backup into a new location");
        }
        j.at("kind").get_to(c.kind);
        if (c.kind != BackupCheckpoint::kFull && c.kind != BackupCheckpoint::kIncremental) {
            throw ToolError(path + " is of an unknown kind \"" + c.kind + "\"");
        }
        j.at("source").at("endpoint").get_to(c.endpoint);
        j.at("source").at("database").get_to(c.database);
        j.at("source").at("container").get_to(c.container);
        j.at("createdAt").get_to(c.createdAt);
        j.at("pageSize").get_to(c.pageSize);
        j.at("itemsPerFile").get_to(c.itemsPerFile);
        j.at("parallelism").get_to(c.parallelism);
        if (c.pageSize < 1 || c.itemsPerFile < 1 || c.parallelism < 1) throw ToolError(path + " holds settings out of range");
        c.positions = j.at("positions");
        j.at("parent").at("path").get_to(c.parentPath);
        j.at("parent").at("manifestSha256").get_to(c.parentManifestSha256);
        if (c.IsIncrement() && (c.parentPath.empty() || c.parentManifestSha256.empty())) {
            throw ToolError(path + " is of an increment that names no parent");
        }
        for (const auto& range : j.at("ranges")) {
            if (!range.is_object() || !range.at("id").is_string()) throw ToolError(path + " lists a range without an id");
            c.ranges.push_back(range.get<ReadPart>());
        }
        return c;
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(path + " is not a valid checkpoint: " + e.what());
    }
}

void CheckSameSource(const BackupCheckpoint& c, const std::string& endpoint, const std::string& database,
                     const std::string& container) {
    if (c.database != database || c.container != container || c.endpoint != endpoint) {
        throw ToolError("the interrupted backup is of " + c.database + "/" + c.container + " at " + c.endpoint +
                        ", not of " + database + "/" + container + " at " + endpoint + "; refusing to mix them");
    }
}

void WriteRangeCheckpoint(BackupStore& store, const RangeCheckpoint& c) {
    const nlohmann::json j = {
        {"range", c.range}, {"continuation", c.continuation}, {"done", c.done}, {"files", c.files}};
    WriteFileDurably(store, RangeCheckpointName(c.range), j.dump() + "\n");
}

RangeCheckpoint ReadRangeCheckpoint(const BackupStore& store, int range) {
    const auto path = PathIn(store, RangeCheckpointName(range));
    RangeCheckpoint c;
    c.range = range;
    const auto parsed = ParseCheckpoint(store, RangeCheckpointName(range));
    if (!parsed) return c;
    const auto& j = *parsed;
    try {
        if (j.at("range").get<int>() != range) throw ToolError(path + " belongs to another range");
        j.at("continuation").get_to(c.continuation);
        j.at("done").get_to(c.done);
        j.at("files").get_to(c.files);
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(path + " is not a valid checkpoint: " + e.what());
    }
    for (const auto& file : c.files) {
        if (!IsRangeDataFileOf(file.name, range)) throw ToolError(path + " names a file that is not its range's: " + file.name);
    }
    return c;
}

bool HasBackupCheckpoint(const std::vector<StoredFile>& listed) {
    for (const auto& file : listed) {
        if (file.name == kCheckpointName && file.plain) return true;
    }
    return false;
}

bool HasBackupCheckpoint(const BackupStore& store) { return HasBackupCheckpoint(store.List()); }

void WriteLatestFiles(BackupStore& store, const std::vector<DataFile>& files) {
    WriteFileDurably(store, kLatestFilesName, nlohmann::json{{"files", files}}.dump() + "\n");
}

std::optional<std::vector<DataFile>> ReadLatestFiles(const BackupStore& store) {
    const auto parsed = ParseCheckpoint(store, kLatestFilesName);
    if (!parsed) return std::nullopt;
    try {
        auto files = parsed->at("files").get<std::vector<DataFile>>();
        for (const auto& file : files) {
            if (!IsDataFileName(file.name)) throw ToolError(PathIn(store, kLatestFilesName) + " names a file that is not a data file: " + file.name);
        }
        return files;
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(PathIn(store, kLatestFilesName) + " is not a valid checkpoint: " + e.what());
    }
}

void RemoveBackupCheckpoints(BackupStore& store) {
    for (const auto& file : store.List()) {
        const auto& name = file.name;
        if (IsCheckpointName(name)) store.Remove(name);
    }
}

}  // namespace cosmosbackup
