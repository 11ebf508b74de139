#pragma once

#include "format/LocationLayout.h"
#include "storage/BackupStore.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cosmosbackup {

// Effective partition keys [minInclusive, maxExclusive), upper-case hex ("" the first, "FF" past the last).
struct KeyInterval {
    std::string minInclusive;
    std::string maxExclusive;
    bool Meets(const KeyInterval& other) const { return minInclusive < other.maxExclusive && other.minInclusive < maxExclusive; }
};

// The interval of a range or part ({"minInclusive","maxExclusive"} and more), none when it lacks
// either bound or they are not effective keys.
std::optional<KeyInterval> KeyIntervalOf(const nlohmann::json& range);

// One data file of a backup: gzip-compressed JSON Lines, one item per line.
struct DataFile {
    std::string name;
    std::int64_t items = 0;
    std::int64_t bytes = 0;
    std::string crc32;  // of the compressed file's bytes
    std::string md5 = {};  // of the same bytes, base64 ("" in backups made before it was kept)
    // The effective keys its items can have: the range or sub-range it was read from (none in
    // older backups and where it is not known: then any key).
    std::optional<KeyInterval> keys = {};
};

// Where a container takes its throughput from.
struct ThroughputLayout {
    static constexpr const char* kOwn = "container";     // its own offer
    static constexpr const char* kShared = "database";   // its database's shared offer
    static constexpr const char* kNone = "none";         // none (serverless, or no offer)

    std::string scope = kNone;
    bool serverless = false;  // the account answered as a serverless account
    int manual = 0;           // fixed RU/s of that offer, 0 if none or autoscale
    int autoscaleMax = 0;     // autoscale maximum RU/s of that offer, 0 if not autoscale
};

// "no throughput", "no throughput (serverless)", "its own 400 RU/s", "the database's shared
// autoscale up to 4000 RU/s".
std::string DescribeLayout(const ThroughputLayout& layout);

// Everything a restore needs besides the items, and what a verify checks them against.
// Stored as manifest.json in the backup directory; a backup without it is incomplete.
// Version 2 added the whole container definition and the throughput layout; version 1
// manifests are still read (their throughput is the container's own, or none).
struct Manifest {
    static constexpr int kFormatVersion = 2;
    static constexpr int kOldestFormatVersion = 1;
    // Increments of a chain (ChainRecord.h): older tools must refuse them.
    static constexpr int kChainFormatVersion = 3;

    int formatVersion = kFormatVersion;
    std::string createdAt;  // UTC, ISO 8601
    std::string sourceEndpoint;
    std::string sourceDatabase;
    std::string sourceContainer;
    nlohmann::json partitionKey = nlohmann::json::object();
    nlohmann::json indexingPolicy = nlohmann::json::object();
    // The container resource as the service returned it minus system properties; null in
    // version 1 (then partitionKey, indexingPolicy and defaultTtl are all there is).
    nlohmann::json container;
    ThroughputLayout throughput;
    int defaultTtl = 0;             // 0 off, -1 on without default, else seconds
    nlohmann::json scripts = nlohmann::json::object();
    int scriptCount = 0;
    std::int64_t itemCount = 0;
    std::vector<DataFile> files;
    nlohmann::json chain;  // the backup's place in a chain, read through ChainOf (null: none)
    // The run that made it ("" and -1 in manifests of older versions, -1 where not known): the
    // tool's version (WriteManifest sets it), the request units it used and its seconds.
    std::string toolVersion;
    double requestCharge = -1;
    double seconds = -1;
};

void to_json(nlohmann::json& j, const DataFile& f);
void from_json(const nlohmann::json& j, DataFile& f);
void to_json(nlohmann::json& j, const ThroughputLayout& t);
void from_json(const nlohmann::json& j, ThroughputLayout& t);
void to_json(nlohmann::json& j, const Manifest& m);
void from_json(const nlohmann::json& j, Manifest& m);


// Writes the manifest atomically and durably (the store's commit: in a directory a temporary
// file, synced, renamed into place, directory synced), owner-only. The data files must have
// been committed before.
void WriteManifest(BackupStore& store, const Manifest& manifest);
// Reads and checks the manifest as untrusted input; throws ToolError when it is missing, not a
// regular file, too large, unreadable, of an unknown format version, or names a data file
// that is not one of the tool's own (or one twice).
Manifest ReadManifest(const BackupStore& store);

}  // namespace cosmosbackup
