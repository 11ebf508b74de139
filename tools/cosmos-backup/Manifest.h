#pragma once

#include "BackupStore.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace cosmosbackup {

// One data file of a backup: gzip-compressed JSON Lines, one item per line.
struct DataFile {
    std::string name;
    std::int64_t items = 0;
    std::int64_t bytes = 0;
    std::string crc32;  // of the compressed file's bytes
};

// Everything a restore needs besides the items, and what a verify checks them against.
// Stored as manifest.json in the backup directory; a backup without it is incomplete.
struct Manifest {
    static constexpr int kFormatVersion = 1;

    int formatVersion = kFormatVersion;
    std::string createdAt;  // UTC, ISO 8601
    std::string sourceEndpoint;
    std::string sourceDatabase;
    std::string sourceContainer;
    nlohmann::json partitionKey = nlohmann::json::object();
    nlohmann::json indexingPolicy = nlohmann::json::object();
    int throughput = 0;             // fixed RU/s, 0 if none
    int autoscaleMaxThroughput = 0; // 0 if not autoscale
    int defaultTtl = 0;             // 0 off, -1 on without default, else seconds
    nlohmann::json scripts = nlohmann::json::object();
    int scriptCount = 0;
    std::int64_t itemCount = 0;
    std::vector<DataFile> files;
};

void to_json(nlohmann::json& j, const DataFile& f);
void from_json(const nlohmann::json& j, DataFile& f);
void to_json(nlohmann::json& j, const Manifest& m);
void from_json(const nlohmann::json& j, Manifest& m);

inline constexpr const char* kManifestName = "manifest.json";
inline constexpr std::int64_t kMaxManifestBytes = 64 << 20;  // scripts and file list included

// Writes the manifest whole at once (the store's commit), owner-only.
void WriteManifest(BackupStore& store, const Manifest& manifest);
void WriteManifest(const std::string& location, const Manifest& manifest);
// Reads and checks the manifest; throws ToolError when it is missing, not a plain file, too
// large, unreadable or of an unknown format version.
Manifest ReadManifest(const BackupStore& store);
Manifest ReadManifest(const std::string& location);

}  // namespace cosmosbackup
