#include "pipeline/IncrementBackup.h"

#include "pipeline/RunFigures.h"
#include "chain/ChainLinks.h"
#include "chain/IncrementKeys.h"
#include "chain/ItemKey.h"
#include "chain/KeyComparison.h"
#include "chain/KeySet.h"
#include "format/BackupClaim.h"
#include "format/LocationLayout.h"
#include "format/DataFiles.h"
#include "format/DurableFile.h"
#include "format/GzipFile.h"
#include "service/BackupRead.h"
#include "service/KeySlices.h"
#include "service/SubRanges.h"
#include "storage/LocationPath.h"
#include "storage/OpenBackupStore.h"
#include "storage/UnfinishedWrites.h"
#include "support/ToolError.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace cosmosbackup {
namespace {

// Keys are small: large pages keep the key-only read to few requests.
constexpr long long kKeyPageSize = 10000;

// One change feed read per range the parent recorded, from the parent's position to the
// feed's end. The feed keeps only an item's newest version, at its newest LSN: a read that
// stopped at a position taken when the increment began would miss an item changed before
// that position and again after it, and the chain would give the item's older body.
std::vector<ReadPart> ChangeFeedParts(const ChangeFeedPositions& since) {
    std::vector<ReadPart> parts;
    for (const auto& range : since.ranges) parts.push_back(ChangesOfRange(range));
    return parts;
}

// Where the reads ended (each range's last continuation lists its parts' "reached" etags):
// the next increment starts there. A read that did not say so keeps the positions taken when
// this increment began, which reads some changes twice but misses none.
ChangeFeedPositions PositionsReached(const std::vector<std::string>& endContinuations, const ChangeFeedPositions& atStart) {
    ChangeFeedPositions reached;
    reached.at = atStart.at;
    for (const auto& text : endContinuations) {
        const auto end = nlohmann::json::parse(text, nullptr, false);
        const auto parts = end.is_object() ? end.find("reached") : end.end();
        if (!end.is_object() || parts == end.end() || !parts->is_array() || parts->empty()) return atStart;
        for (const auto& part : *parts) {
            if (!part.is_object() || !part.contains("id") || !part.contains("etag") || !part["etag"].is_string()) return atStart;
            reached.ranges.push_back(part);
        }
    }
    return reached;
}

// Writes `file` without the lines `superseded` names (line numbers from 0) under `name`.
DataFile WithoutLines(BackupStore& store, const DataFile& file, const std::vector<std::int64_t>& superseded,
                      const std::string& name) {
    std::int64_t line = 0, kept = 0;
    GzipLineReader reader(store, file.name);
    GzipLineWriter writer(store, name);
    std::string text;
    for (; reader.ReadLine(text); ++line) {
        if (std::binary_search(superseded.begin(), superseded.end(), line)) continue;
        writer.WriteLine(text);
        ++kept;
    }
    const auto stored = writer.Close();
    DataFile rewritten{name, kept, stored.bytes, stored.crc32, stored.md5};
    rewritten.keys = file.keys;  // the same range's items
    return rewritten;
}

// For each file, the lines (from 0) that a later line of the same item supersedes.
std::vector<std::vector<std::int64_t>> SupersededLines(const BackupStore& store, const Manifest& manifest) {
    const ItemKeyMaker maker(manifest.partitionKey);
    struct Place {
        std::size_t file;
        std::int64_t line;
    };
    std::unordered_map<std::string, Place> latest;
    std::vector<std::vector<std::int64_t>> superseded(manifest.files.size());
    for (std::size_t f = 0; f < manifest.files.size(); ++f) {
        std::int64_t line = 0;
        ForEachItemIn(store, manifest.files[f], [&](const std::string& text) {
            const auto item = nlohmann::json::parse(text, nullptr, false);
            if (item.is_discarded() || !item.is_object()) throw ToolError("a changed item is not a JSON object");
            const auto [found, added] = latest.try_emplace(maker.KeyOf(item), Place{f, line});
            if (!added) {
                superseded[found->second.file].push_back(found->second.line);
                found->second = Place{f, line};
            }
            ++line;
        });
    }
    for (auto& lines : superseded) std::sort(lines.begin(), lines.end());
    return superseded;
}

// A name of the tool's own for the rewritten `file` that no file of its range has yet.
std::string FreshName(const std::string& file, const std::vector<DataFile>& files, int& next) {
    const auto parts = ParseDataFileName(file);
    const int range = parts && parts->range ? *parts->range : 0;
    while (true) {
        const auto name = RangeDataFileName(range, next++);
        if (std::none_of(files.begin(), files.end(), [&](const DataFile& f) { return f.name == name; })) return name;
    }
}

// An increment's parent: where it is, as given or recorded, and its store, opened once.
struct OpenedParent {
    std::string location;
    std::shared_ptr<BackupStore> store;
};

// The parent, which must be a link of a chain of this very container with the definition it has now.
std::vector<ChainLink> CheckedParentChain(const OpenedParent& since, const BackupOptions& options, const std::string& endpoint,
                                          const Manifest& now) {
    const std::string& where = since.location;
    auto chain = LoadChain(since.store, options.storage);
    const auto& parent = chain.back();
    if (parent.record.kind.empty()) {
        throw ToolError(where + " was made by a tool that recorded no change feed positions; take a full backup to start a chain");
    }
    const auto& m = parent.manifest;
    if (m.sourceEndpoint != endpoint || m.sourceDatabase != options.database || m.sourceContainer != options.container) {
        throw ToolError(where + " is a backup of " + m.sourceDatabase + "/" + m.sourceContainer + " at " + m.sourceEndpoint +
                        ", not of " + options.database + "/" + options.container + " at " + endpoint);
    }
    if (m.partitionKey != now.partitionKey || m.container != now.container) {
        throw ToolError("the definition of " + options.database + "/" + options.container + " changed since " + where +
                        "; take a full backup to start a new chain");
    }
    return chain;
}

// The parent an increment is taken since, opened once: --since for a new one; for a resumed one
// the parent its record names, which a --since given again must not contradict.
OpenedParent ParentStore(const BackupStart& start) {
    const auto& options = start.options;
    if (!start.recorded) return {options.since, options.sinceStore};
    const auto& record = *start.recorded;
    const std::string recorded = ResolveLocation(options.directory, record.parentPath);
    if (options.since.empty()) return {recorded, OpenBackupStore(recorded, options.storage)};
    const auto& since = options.sinceStore;
    if (SameLocation(options.since, recorded)) return {recorded, since};
    if (ManifestSha256(*since) != record.parentManifestSha256) {
        throw ToolError("the interrupted increment in " + options.directory + " is taken since " + recorded +
                        ", not since " + options.since + "; to continue it, run: " + ResumeCommand(options));
    }
    return {recorded, OpenBackupStore(recorded, options.storage)};
}

}  // namespace

void KeepLatestVersions(BackupStore& store, Manifest& manifest) {
    if (auto recorded = ReadLatestFiles(store)) {
        // Killed after the switch: the files it replaced that are still there go now.
        for (const auto& f : manifest.files) {
            if (std::none_of(recorded->begin(), recorded->end(), [&](const DataFile& r) { return r.name == f.name; })) store.Remove(f.name);
        }
        manifest.files = std::move(*recorded);
    } else {
        const auto superseded = SupersededLines(store, manifest);
        std::vector<DataFile> latest = manifest.files, replaced;
        int next = 0;
        for (std::size_t f = 0; f < latest.size(); ++f) {
            if (superseded[f].empty()) continue;
            replaced.push_back(latest[f]);
            latest[f] = WithoutLines(store, manifest.files[f], superseded[f], FreshName(latest[f].name, manifest.files, next));
        }
        if (!replaced.empty()) {
            WriteLatestFiles(store, latest);
            for (const auto& old : replaced) store.Remove(old.name);
        }
        manifest.files = std::move(latest);
    }
    manifest.itemCount = 0;
    for (const auto& f : manifest.files) manifest.itemCount += f.items;
}

namespace {

// The links an increment names: its parent and its chain's base.
struct IncrementLinks {
    LinkReference parent;
    LinkReference base;
    int length = 0;  // the increment's place in the chain
};

// The items an increment's readers wrote, each item's latest version only.
BackupItems ReadChanges(const ConnectionOptions& connectionOptions, BackupStore& store, const BackupCheckpoint& record,
                        Manifest& manifest, const BackupOptions& options) {
    auto items = ReadBackupItems(connectionOptions, options, store, record, 0);
    manifest.createdAt = items.createdAt;
    manifest.files = std::move(items.files);
    KeepLatestVersions(store, manifest);
    return items;
}

// A shard of an increment: its slice's changes, their keys, and the keys its slice holds after
// them. Which keys are gone is known only against the parent's whole key set, so finishing
// compares them, all shards together; the shard's record keeps what that needs.
IncrementSummary FinishIncrementShard(Connection& connection, const ConnectionOptions& connectionOptions, BackupStore& store,
                                      const BackupCheckpoint& record, const IncrementLinks& links, Manifest& manifest,
                                      const BackupOptions& options, const KeySlice& slice) {
    const auto items = ReadChanges(connectionOptions, store, record, manifest, options);
    const std::vector<KeySet> changed = KeysOfItems(store, manifest);
    MergedKeys changedKeys(changed);
    const DataFile changedFile = WriteKeyFile(store, kKeysFileName, changedKeys);

    IncrementSummary summary;
    LiveKeyRead read{connectionOptions, options.database, options.container, options.parallelism, kKeyPageSize, options.readerSlots, {}};
    read.parts = PartsInSlice(connection.PartitionKeyRanges(), slice);
    const std::vector<KeySet> live = ReadLiveKeys(connection, read, summary.keyRead);
    MergedKeys liveKeys(live);
    const DataFile liveFile = WriteKeyFile(store, kLiveKeysFileName, liveKeys);

    // Where this slice's reads ended; a read that did not say so: the positions at the start,
    // narrowed to the slice, so that the shards' positions together cover the key space once.
    auto atStart = PositionsOf(record.positions);
    atStart.ranges = NarrowedToSlice(atStart.ranges, slice);
    const nlohmann::json increment = {{"changed", changedFile},
                                      {"live", liveFile},
                                      {"changeFeed", PositionsJson(PositionsReached(items.endContinuations, atStart))},
                                      {"parent", links.parent},
                                      {"base", links.base},
                                      {"length", links.length}};
    NoteRunFigures(manifest, items, ReadUsage(connection), summary.keyRead);  // the finish adds up the shards'
    SealShardRecord(store, manifest, ShardSealOf(options, slice, increment), options.locks);
    CleanUpSealed(store);

    Summarise(connection, manifest, items, summary.backup);
    summary.backup.usage += summary.keyRead;
    summary.backup.countedBefore = -1;
    summary.chainLength = links.length;
    return summary;
}

// After the increment's first record: its changes, the files that keep only the latest versions,
// the key comparison, the manifest.
IncrementSummary FinishIncrement(Connection& connection, const ConnectionOptions& connectionOptions, BackupStore& store,
                                 const BackupCheckpoint& record, const std::vector<ChainLink>& chain, const LinkReference& parentLink,
                                 const LinkReference& baseLink, Manifest& manifest, const BackupOptions& options) {
    const auto& parent = chain.back();
    const auto items = ReadChanges(connectionOptions, store, record, manifest, options);
    const std::vector<KeySet> changed = KeysOfItems(store, manifest);

    // The deletions since the parent: from the all versions and deletes feed, or else the key
    // set after the changes were read (what is gone since then is deleted).
    IncrementSummary summary;
    const IncrementKeys found = FindIncrementKeys(connection, LiveKeyRead{connectionOptions, options.database, options.container,
                                                                         options.parallelism, kKeyPageSize, options.readerSlots, {}},
                                                  store, parent, changed, PositionsOf(record.positions));
    summary.keyRead = found.usage;
    summary.deletionsFromFeed = found.fromFeed;
    const KeyChangeFiles& keys = found.files;

    ChainRecord chainRecord;
    chainRecord.kind = ChainRecord::kIncremental;
    chainRecord.changeFeed = PositionsReached(items.endContinuations, PositionsOf(record.positions));
    chainRecord.allVersions = found.allVersions;
    chainRecord.keys = keys.keys;
    chainRecord.deletions = keys.deletions;
    chainRecord.parent = parentLink;
    chainRecord.base = baseLink;
    chainRecord.length = parent.record.length + 1;
    SetChain(manifest, chainRecord);
    NoteRunFigures(manifest, items, ReadUsage(connection), found.usage);
    SealManifest(store, manifest, options.locks);
    CleanUpSealed(store);

    Summarise(connection, manifest, items, summary.backup);
    summary.backup.usage += summary.keyRead;
    summary.backup.countedBefore = manifest.itemCount;
    summary.deletions = keys.deletions.items;
    summary.keys = keys.keys.items;
    summary.keyFileBytes = keys.keys.bytes;
    summary.chainLength = chainRecord.length;
    return summary;
}

}  // namespace

IncrementSummary RunIncrementalBackup(Connection& connection, const ConnectionOptions& connectionOptions, BackupStore& store,
                                      const BackupStart& start) {
    const BackupOptions& options = start.options;
    Manifest manifest = OpenSource(connection, connectionOptions.endpoint, options);
    Describe(connection, manifest);
    // A shard reads the changes of its slice of the key space only.
    const std::optional<KeySlice> slice =
        options.shard ? std::optional<KeySlice>(SliceOfKeySpace(manifest.partitionKey, options.shard->index, options.shard->count))
                      : std::nullopt;
    const auto chain = CheckedParentChain(ParentStore(start), options, connectionOptions.endpoint, manifest);
    const auto& parent = chain.back();
    CheckKeyFile(*parent.store, parent.record.keys);
    // Refuses an increment that could not name its parent (another kind of storage) before the first write.
    const LinkReference parentLink{RelativeLocation(parent.directory, options.directory), ManifestSha256(*parent.store)};
    const LinkReference baseLink{RelativeLocation(chain.front().directory, options.directory), ManifestSha256(*chain.front().store)};

    BackupCheckpoint record;
    if (start.recorded) {
        record = *start.recorded;
        if (record.parentManifestSha256 != parentLink.manifestSha256) {
            throw ToolError("the parent " + parent.directory + " is not the backup the interrupted increment in " + options.directory +
                            " was taken since (its manifest changed); take the increment into a new location");
        }
    } else {
        PrepareNewLocation(store);
        record = NewBackupRecord(options, connectionOptions.endpoint);
        record.kind = BackupCheckpoint::kIncremental;
        record.parentPath = parentLink.path;
        record.parentManifestSha256 = parentLink.manifestSha256;
        const auto positions = ReadChangeFeedPositions(connection);
        record.positions = PositionsJson(positions);
        record.ranges = ChangeFeedParts(parent.record.changeFeed);
        if (slice) record.ranges = NarrowedToSlice(record.ranges, *slice);
        // Not probed as a full backup's parts are: a service that ignored the key bounds would
        // serve a change to several parts, and the increment keeps an item's latest version once.
        record.ranges = PlanSubRanges(record.ranges, options.parallelism, manifest.partitionKey);
        ClaimLocation(store, record);
    }

    try {
        if (slice) {
            return FinishIncrementShard(connection, connectionOptions, store, record, {parentLink, baseLink, parent.record.length + 1},
                                        manifest, options, *slice);
        }
        return FinishIncrement(connection, connectionOptions, store, record, chain, parentLink, baseLink, manifest, options);
    } catch (const std::exception& e) {
        throw WithResumeHint(e, options);
    }
}

}  // namespace cosmosbackup
