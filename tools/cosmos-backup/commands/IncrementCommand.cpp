#include "commands/IncrementCommand.h"

#include "chain/ChainLinks.h"
#include "chain/ItemKey.h"
#include "chain/KeySet.h"
#include "format/DataFileNames.h"
#include "format/DataFiles.h"
#include "format/DurableFile.h"
#include "format/GzipFile.h"
#include "service/BackupRead.h"
#include "storage/LocationPath.h"
#include "storage/OpenBackupStore.h"
#include "support/ToolError.h"

#include <algorithm>
#include <iterator>
#include <unordered_map>

namespace cosmosbackup {
namespace {

// Keys are small: large pages keep the key-only read to few requests.
constexpr long long kKeyPageSize = 10000;

// One change feed read per range the parent recorded, from the parent's position to the
// feed's end. The feed keeps only an item's newest version, at its newest LSN: a read that
// stopped at a position taken when the increment began would miss an item changed before
// that position and again after it, and the chain would give the item's older body.
std::vector<nlohmann::json> ChangeFeedParts(const ChangeFeedPositions& since) {
    std::vector<nlohmann::json> parts;
    for (const auto& range : since.ranges) {
        parts.push_back({{"id", range.at("id")},
                         {"minInclusive", range.value("minInclusive", std::string())},
                         {"maxExclusive", range.value("maxExclusive", std::string("FF"))},
                         {"read", "changes"},
                         {"since", range.at("etag")}});
    }
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

// Rewrites a data file without the lines `superseded` names (line numbers from 0). The new
// file replaces the old one whole when it is committed.
void DropLines(BackupStore& store, DataFile& file, const std::vector<std::int64_t>& superseded) {
    std::int64_t line = 0, kept = 0;
    GzipLineReader reader(store, file.name);
    GzipLineWriter writer(store, file.name);
    std::string text;
    for (; reader.ReadLine(text); ++line) {
        if (std::binary_search(superseded.begin(), superseded.end(), line)) continue;
        writer.WriteLine(text);
        ++kept;
    }
    const auto stored = writer.Close();
    file.items = kept;
    file.bytes = stored.bytes;
    file.crc32 = stored.crc32;
    file.md5 = stored.md5;
}

// The parent, which must be a link of a chain of this very container with the definition it has now.
std::vector<ChainLink> CheckedParentChain(const BackupOptions& options, const std::string& endpoint, const Manifest& now) {
    auto chain = LoadChain(OpenBackupStore(options.since, options.storage), options.storage);
    const auto& parent = chain.back();
    if (parent.record.kind.empty()) {
        throw ToolError(options.since + " was made by a tool that recorded no change feed positions; take a full backup to start a chain");
    }
    const auto& m = parent.manifest;
    if (m.sourceEndpoint != endpoint || m.sourceDatabase != options.database || m.sourceContainer != options.container) {
        throw ToolError(options.since + " is a backup of " + m.sourceDatabase + "/" + m.sourceContainer + " at " + m.sourceEndpoint +
                        ", not of " + options.database + "/" + options.container + " at " + endpoint);
    }
    if (m.partitionKey != now.partitionKey || m.container != now.container) {
        throw ToolError("the definition of " + options.database + "/" + options.container + " changed since " + options.since +
                        "; take a full backup to start a new chain");
    }
    return chain;
}

struct KeyChanges {
    KeySet keys;       // the state's keys now
    KeySet deletions;  // keys gone since the parent
};

// Every key of the parent's state or changed now is either still there or deleted.
KeyChanges CompareKeys(const KeySet& parent, const KeySet& changed, const KeySet& live) {
    KeySet candidates;
    std::set_union(parent.begin(), parent.end(), changed.begin(), changed.end(), std::back_inserter(candidates));
    KeyChanges result;
    std::set_difference(candidates.begin(), candidates.end(), live.begin(), live.end(), std::back_inserter(result.deletions));
    std::set_intersection(candidates.begin(), candidates.end(), live.begin(), live.end(), std::back_inserter(result.keys));
    return result;
}

// An interrupted increment goes on only from the parent it began with: its change feed parts
// came from that parent's positions. Removed with the other checkpoints.
void RecordOrCheckParent(BackupStore& store, const std::string& parentSha256, bool resume) {
    constexpr const char* kParentName = "checkpoint-parent.json";
    if (resume) {
        if (const auto text = ReadSmallFile(store, kParentName, 4096)) {
            const auto recorded = nlohmann::json::parse(*text, nullptr, false);
            if (recorded.is_object() && recorded.value("manifestSha256", std::string()) == parentSha256) return;
            throw ToolError("the interrupted increment in " + store.Describe() + " was taken since another backup than --since names; "
                            "resume it with the same --since");
        }
    }
    WriteFileDurably(store, kParentName, nlohmann::json{{"manifestSha256", parentSha256}}.dump() + "\n");
}

}  // namespace

KeySet KeepLatestVersions(BackupStore& store, Manifest& manifest) {
    const ItemKeyMaker maker(manifest.partitionKey);
    struct Place {
        std::size_t file;
        std::int64_t line;
    };
    std::unordered_map<std::string, Place> latest;
    std::vector<std::vector<std::int64_t>> superseded(manifest.files.size());
    for (std::size_t f = 0; f < manifest.files.size(); ++f) {
        Manifest one = manifest;
        one.files = {manifest.files[f]};
        std::int64_t line = 0;
        ForEachItem(store, one, [&](const std::string& text) {
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
    manifest.itemCount = 0;
    for (std::size_t f = 0; f < manifest.files.size(); ++f) {
        if (!superseded[f].empty()) {
            std::sort(superseded[f].begin(), superseded[f].end());
            DropLines(store, manifest.files[f], superseded[f]);
        }
        manifest.itemCount += manifest.files[f].items;
    }
    KeySet keys;
    keys.reserve(latest.size());
    for (auto& entry : latest) keys.push_back(entry.first);
    Normalise(keys);
    return keys;
}

IncrementSummary RunIncrementalBackup(Connection& connection, const ConnectionOptions& connectionOptions,
                                      const BackupOptions& given) {
    const auto store = OpenBackupStore(given.directory, given.storage);
    return BackUpIncrement(connection, connectionOptions, *store, given);
}

IncrementSummary BackUpIncrement(Connection& connection, const ConnectionOptions& connectionOptions, BackupStore& location,
                                 const BackupOptions& given) {
    BackupStore* const store = &location;
    const BackupOptions options = WithSource(*store, given);
    auto& bridge = connection.bridge();
    connection.Require(bridge.OpenCosmosDBContainer("", options.database, false, options.container, ""),
                       "cannot open " + options.database + "/" + options.container);
    Manifest manifest;
    manifest.sourceEndpoint = connectionOptions.endpoint;
    manifest.sourceDatabase = options.database;
    manifest.sourceContainer = options.container;
    Describe(connection, manifest);
    const auto chain = CheckedParentChain(options, connectionOptions.endpoint, manifest);
    const auto& parent = chain.back();
    const KeySet parentKeys = ReadKeyFile(*parent.store, parent.record.keys);
    // Refuses an increment that could not name its parent (another kind of storage) before the first write.
    const LinkReference parentLink{RelativeLocation(parent.directory, options.directory), ManifestSha256(*parent.store)};
    const LinkReference baseLink{RelativeLocation(chain.front().directory, options.directory), ManifestSha256(*chain.front().store)};
    PrepareLocation(*store, options);
    BackupItems items;
    IncrementSummary summary;
    ContinuableOnFailure(options, [&] {
        RecordOrCheckParent(*store, parentLink.manifestSha256, options.resume);
        const auto positions = RecordOrRecallPositions(connection, *store, options.resume);

        items = ReadBackupItems(connection, connectionOptions, options, *store, 0, ChangeFeedParts(parent.record.changeFeed));
        manifest.createdAt = items.createdAt;
        manifest.files = std::move(items.files);
        const KeySet changed = KeepLatestVersions(*store, manifest);

        // The key set after the changes were read: what is gone since then is deleted.
        const KeySet live = ReadLiveKeys(connection, LiveKeyRead{connectionOptions, options.database, options.container,
                                                                 options.parallelism, kKeyPageSize, options.readerSlots},
                                         summary.keyRead);
        const KeyChanges keys = CompareKeys(parentKeys, changed, live);

        ChainRecord record;
        record.kind = ChainRecord::kIncremental;
        record.changeFeed = PositionsReached(items.endContinuations, positions);
        record.keys = WriteKeyFile(*store, kKeysFileName, keys.keys);
        record.deletions = WriteKeyFile(*store, kDeletionsFileName, keys.deletions);
        record.parent = parentLink;
        record.base = baseLink;
        record.length = parent.record.length + 1;
        SetChain(manifest, record);
        WriteManifest(*store, manifest);
        RemoveBackupCheckpoints(*store);
        summary.deletions = static_cast<std::int64_t>(keys.deletions.size());
        summary.keys = static_cast<std::int64_t>(keys.keys.size());
        summary.chainLength = record.length;
    });

    Summarise(connection, manifest, items, summary.backup);
    summary.backup.usage += summary.keyRead;
    summary.backup.countedBefore = manifest.itemCount;
    return summary;
}

}  // namespace cosmosbackup
