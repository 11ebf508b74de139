#include "pipeline/ShardedBackupFinish.h"

#include "pipeline/RunFigures.h"

#include "chain/ChainRecord.h"
#include "chain/KeyComparison.h"
#include "chain/KeySet.h"
#include "format/LocationLayout.h"
#include "format/DataFiles.h"
#include "format/DurableFile.h"
#include "format/ShardRun.h"
#include "format/ShardView.h"
#include "pipeline/BackupSeal.h"
#include "service/KeySlices.h"
#include "storage/LocationPath.h"
#include "storage/OpenBackupStore.h"
#include "support/Progress.h"
#include "support/ToolError.h"

#include <algorithm>
#include <chrono>
#include <map>

namespace cosmosbackup {
namespace {

struct ShardRecord {
    int index = 0;
    nlohmann::json shard;  // what the shard recorded of its run: index, count, slice, settings
    Manifest manifest;

    // A shard of an increment: its key files, positions and links; null for a full backup.
    const nlohmann::json& Increment() const {
        static const nlohmann::json kNone;
        const auto found = shard.find("increment");
        return found == shard.end() ? kNone : *found;
    }
    // The keys of the items the shard wrote.
    DataFile ItemKeys() const {
        return Increment().is_null() ? ChainOf(manifest).keys : Increment().at("changed").get<DataFile>();
    }
};

// What must be equal in every shard of one run.
nlohmann::json RunOf(const ShardRecord& r) {
    return {{"source", {r.manifest.sourceEndpoint, r.manifest.sourceDatabase, r.manifest.sourceContainer}},
            {"count", r.shard.value("count", 0)},
            {"pageSize", r.shard.value("pageSize", 0LL)},
            {"itemsPerFile", r.shard.value("itemsPerFile", 0LL)},
            {"container", r.manifest.container},
            {"links", r.Increment().is_null() ? nlohmann::json() : nlohmann::json{r.Increment().at("parent"), r.Increment().at("base"),
                                                                                  r.Increment().at("length")}}};
}

std::string Join(const std::vector<std::string>& parts) {
    std::string text;
    for (const auto& p : parts) text += (text.empty() ? "" : ", ") + p;
    return text;
}

ShardRecord ReadShardRecord(const std::shared_ptr<BackupStore>& store, int index, const std::string& name) {
    ShardRecord record;
    record.index = index;
    const auto text = ReadSmallFile(*store, name, kMaxManifestBytes);
    if (!text) throw ToolError(store->Describe() + "/" + name + " vanished while the shards were read");
    try {
        record.shard = nlohmann::json::parse(*text).at("shard");
        if (!record.Increment().is_null()) {
            for (const char* member : {"changed", "live", "changeFeed", "parent", "base", "length"}) record.Increment().at(member);
            record.ItemKeys();
        }
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(store->Describe() + "/" + name + " is not a shard's record: " + e.what());
    }
    record.manifest = ReadManifest(ShardView(store, index));
    return record;
}

// Why a shard is not of the run `run` (of N shards), or "" when it is.
std::string Foreign(const ShardRecord& r, const nlohmann::json& run, int count, const std::string& started) {
    if (r.shard.value("run", std::string()) != started) {
        return "shard " + std::to_string(r.index) + " (another start: " + r.shard.value("run", std::string("none recorded")) + ")";
    }
    if (r.index >= count) return "shard " + std::to_string(r.index) + " (past the run's " + std::to_string(count) + " shards)";
    const auto mine = RunOf(r);
    for (const char* what : {"source", "count", "pageSize", "itemsPerFile", "container", "links"}) {
        if (mine[what] != run[what]) return "shard " + std::to_string(r.index) + " (another " + what + ": " + mine[what].dump() + ")";
    }
    const auto slice = SliceOfKeySpace(r.manifest.partitionKey, r.index, count);
    const auto& recorded = r.shard.value("slice", nlohmann::json::object());
    if (recorded.value("minInclusive", std::string("?")) != slice.min || recorded.value("maxExclusive", std::string("?")) != slice.max) {
        return "shard " + std::to_string(r.index) + " (another slice of the key space)";
    }
    return "";
}

// The shards' records, checked to be the whole of one run; throws naming what is wrong.
std::vector<ShardRecord> CompleteRun(const std::shared_ptr<BackupStore>& store) {
    std::map<int, std::string> records;
    std::vector<int> unfinished;
    for (const auto& file : store->List()) {
        if (const auto index = ShardRecordOf(file.name)) records[*index] = file.name;
        else if (const auto started = ShardCheckpointOf(file.name)) unfinished.push_back(*started);
    }
    if (records.empty()) throw ToolError(store->Describe() + " holds no finished shard of a backup");
    const ShardRun recorded = ReadShardRun(*store);
    std::vector<ShardRecord> shards;
    for (const auto& [index, name] : records) shards.push_back(ReadShardRecord(store, index, name));
    // The run is the recorded one: its count, and the settings of its lowest shard of that start.
    const ShardRecord* reference = &shards.front();
    for (const auto& s : shards) {
        if (s.shard.value("run", std::string()) == recorded.startedAt) {
            reference = &s;
            break;
        }
    }
    const auto run = RunOf(*reference);
    const int count = recorded.count;
    std::vector<std::string> problems, foreign;
    std::vector<ShardRecord> mine;
    for (auto& s : shards) {
        const auto why = Foreign(s, run, count, recorded.startedAt);
        if (why.empty()) mine.push_back(std::move(s));
        else foreign.push_back(why);
    }
    std::vector<std::string> missing;
    for (int i = 0, at = 0; i < count; ++i) {
        if (at < static_cast<int>(mine.size()) && mine[static_cast<std::size_t>(at)].index == i) { ++at; continue; }
        const bool started = std::find(unfinished.begin(), unfinished.end(), i) != unfinished.end();
        missing.push_back(std::to_string(i) + (started ? " (unfinished: run its command again)" : " (never ran)"));
    }
    if (!missing.empty()) problems.push_back("shards of " + std::to_string(count) + " missing: " + Join(missing));
    if (!foreign.empty()) problems.push_back("shards of another run: " + Join(foreign));
    if (!problems.empty()) throw ToolError("cannot finish the backup in " + store->Describe() + ": " + Join(problems));
    return mine;
}

// Every shard's key set, of the items it wrote; throws when two shards hold the same item (a
// service that read past a shard's key bounds: the backup would restore it twice).
std::vector<KeySet> ItemKeysOfShards(const std::shared_ptr<BackupStore>& store, const std::vector<ShardRecord>& shards) {
    std::vector<KeySet> keys;
    std::int64_t keysOfShards = 0;
    for (const auto& s : shards) {
        keys.push_back(ReadKeyFile(ShardView(store, s.index), s.ItemKeys()));
        keysOfShards += static_cast<std::int64_t>(keys.back().size());
    }
    std::int64_t distinct = 0;
    MergedKeys merged(keys);
    for (std::string_view key; merged.Next(key);) ++distinct;
    if (distinct != keysOfShards) {
        throw ToolError("cannot finish the backup in " + store->Describe() + ": " + std::to_string(keysOfShards - distinct) +
                        " items are in more than one shard (the service did not keep the reads within the shards' key bounds)");
    }
    return keys;
}

// Every file a shard's record names is there, as large as recorded (its content is checked by
// restore and verify), and a full backup's shard holds as many items as its key file has keys:
// a record that leaves out a file, or names one that went, is refused before anything is sealed.
void CheckShardFiles(const std::shared_ptr<BackupStore>& store, const std::vector<ShardRecord>& shards, const std::vector<KeySet>& keys) {
    const auto listed = store->List();
    for (std::size_t i = 0; i < shards.size(); ++i) {
        const auto& s = shards[i];
        const std::string shard = "shard " + std::to_string(s.index);
        std::int64_t items = 0;
        for (auto file : s.manifest.files) {
            items += file.items;
            file.name = ShardView::LocationName(s.index, file.name);
            try {
                CheckFileEntry(*store, listed, file, "data file");
            } catch (const ToolError& e) {
                throw ToolError("cannot finish the backup in " + store->Describe() + ": " + shard + "'s record: " + e.what());
            }
        }
        const auto recordedKeys = static_cast<std::int64_t>(keys[i].size());
        if (items != s.manifest.itemCount || (s.Increment().is_null() && items != recordedKeys)) {
            throw ToolError("cannot finish the backup in " + store->Describe() + ": " + shard + "'s record names " + std::to_string(items) +
                            " items in its files and gives " + std::to_string(s.manifest.itemCount) + ", its key file " +
                            std::to_string(recordedKeys) + "; run the shard again in a new location");
        }
    }
}

// Where every shard's change feed reads ended, each within its slice: together they cover the
// key space once, in key order.
ChangeFeedPositions PositionsOfShards(const std::vector<ShardRecord>& shards) {
    ChangeFeedPositions positions;
    for (const auto& s : shards) {
        const auto reached = PositionsOf(s.Increment().at("changeFeed"));
        if (positions.at.empty() || reached.at < positions.at) positions.at = reached.at;
        positions.ranges.insert(positions.ranges.end(), reached.ranges.begin(), reached.ranges.end());
    }
    std::stable_sort(positions.ranges.begin(), positions.ranges.end(), [](const nlohmann::json& a, const nlohmann::json& b) {
        return a.value("minInclusive", std::string()) < b.value("minInclusive", std::string());
    });
    return positions;
}

// An increment's chain record from its shards: what is gone since the parent is found as one
// process finds it (KeyComparison.h), from the parent's keys and every shard's changed and
// live keys, which together are the whole container's.
ChainRecord IncrementOfShards(const std::shared_ptr<BackupStore>& store, const std::string& location, const StoreOptions& storage,
                              const std::vector<ShardRecord>& shards, const std::vector<KeySet>& changed) {
    ChainRecord chain;
    chain.kind = ChainRecord::kIncremental;
    const auto& links = shards.front().Increment();
    links.at("parent").get_to(chain.parent);
    links.at("base").get_to(chain.base);
    links.at("length").get_to(chain.length);
    chain.changeFeed = PositionsOfShards(shards);

    const auto parentLocation = ResolveLocation(location, chain.parent.path);
    const auto parentStore = OpenBackupStore(parentLocation, storage);
    if (ManifestSha256(*parentStore) != chain.parent.manifestSha256) {
        throw ToolError("cannot finish the increment in " + store->Describe() + ": its parent " + parentLocation +
                        " changed since the shards were taken (its manifest is another)");
    }
    const ChainRecord parent = ChainOf(ReadManifest(*parentStore));
    CheckKeyFile(*parentStore, parent.keys);
    std::vector<KeySet> live;
    for (const auto& s : shards) live.push_back(ReadKeyFile(ShardView(store, s.index), s.Increment().at("live").get<DataFile>()));
    KeyFileCursor parentKeys(*parentStore, parent.keys);
    MergedKeys changedKeys(changed), liveKeys(live);
    const KeyChangeFiles files = CompareKeys(*store, parentKeys, changedKeys, liveKeys);
    chain.keys = files.keys;
    chain.deletions = files.deletions;
    return chain;
}


// The manifest vouches for the backup: the shards' own records have served. Their data files stay.
void RemoveShardRecords(BackupStore& store) {
    for (const auto& file : store.List()) {
        if (IsShardFile(file.name) && file.name.rfind("items-", 0) != 0) store.Remove(file.name);
    }
}

IncrementSummary SummaryOf(const Manifest& manifest, const ChainRecord& chain, std::chrono::steady_clock::time_point start) {
    IncrementSummary summary;
    auto& backup = summary.backup;
    backup.source = manifest.sourceDatabase + "/" + manifest.sourceContainer;
    backup.items = manifest.itemCount;
    backup.countedBefore = -1;
    backup.layout = manifest.throughput;
    backup.scripts = manifest.scriptCount;
    backup.files = static_cast<int>(manifest.files.size());
    for (const auto& f : manifest.files) backup.bytes += f.bytes;
    backup.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    summary.chainLength = chain.length;
    summary.keys = chain.IsIncrement() ? chain.keys.items : manifest.itemCount;
    summary.keyFileBytes = chain.keys.bytes;
    summary.deletions = chain.deletions.items;
    return summary;
}

}  // namespace

IncrementSummary FinishShardedBackup(const std::shared_ptr<BackupStore>& store, const std::string& location, const StoreOptions& storage,
                                     const WriterLocks* locks) {
    const auto start = std::chrono::steady_clock::now();
    const auto listed = store->List();
    if (std::any_of(listed.begin(), listed.end(), [](const StoredFile& f) { return f.name == kManifestName; })) {
        // A finish killed after its manifest (or run again): the seal is checked, what it left goes.
        const Manifest manifest = ReadManifest(*store);
        CheckSealedCounts(manifest, store->Describe() + "/" + kManifestName);
        CheckDataFiles(*store, manifest);
        RemoveShardRecords(*store);
        IncrementSummary summary = SummaryOf(manifest, ChainOf(manifest), start);
        summary.backup.alreadyComplete = true;
        return summary;
    }
    auto shards = CompleteRun(store);

    // The backup is the first shard's description with every shard's files; its start is the
    // earliest shard's. A full backup's change feed positions are the earliest shard's too
    // (each shard read its items after its own positions, so every change after the earliest is
    // in the next increment); an increment's are where each shard's reads ended.
    Manifest manifest = shards.front().manifest;
    manifest.files.clear();
    manifest.itemCount = 0;
    const ShardRecord* earliest = &shards.front();
    for (const auto& s : shards) {
        AddShardFigures(manifest, s.manifest, &s == &shards.front());
        for (auto file : s.manifest.files) {
            file.name = ShardView::LocationName(s.index, file.name);
            manifest.itemCount += file.items;
            manifest.files.push_back(std::move(file));
        }
        if (s.manifest.createdAt < earliest->manifest.createdAt) earliest = &s;
    }
    manifest.createdAt = earliest->manifest.createdAt;
    const std::vector<KeySet> keys = ItemKeysOfShards(store, shards);
    CheckShardFiles(store, shards, keys);
    ChainRecord chain;
    if (!shards.front().Increment().is_null()) {
        chain = IncrementOfShards(store, location, storage, shards, keys);
    } else {
        chain.kind = ChainRecord::kFull;
        chain.changeFeed = ChainOf(earliest->manifest).changeFeed;
        MergedKeys merged(keys);
        chain.keys = WriteKeyFile(*store, kKeysFileName, merged);
    }
    SetChain(manifest, chain);
    SealManifest(*store, manifest, locks);
    RemoveShardRecords(*store);
    return SummaryOf(manifest, chain, start);
}

}  // namespace cosmosbackup
