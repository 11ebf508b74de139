#include "chain/KeySet.h"

#include "chain/ChainRecord.h"
#include "chain/ItemKey.h"
#include "format/DataFiles.h"
#include "format/GzipFile.h"
#include "support/ParallelFor.h"
#include "support/ToolError.h"

#include <algorithm>
#include <thread>

namespace cosmosbackup {
namespace {

// A key is an id of at most 1023 bytes and up to three key values.
constexpr std::size_t kMaxKeyBytes = 64u << 10;

// The parts as one normalised set.
KeySet Concatenated(std::vector<KeySet> parts) {
    KeySet keys;
    for (auto& part : parts) keys.insert(keys.end(), std::make_move_iterator(part.begin()), std::make_move_iterator(part.end()));
    Normalise(keys);
    return keys;
}

void RequireKeyFileName(const std::string& name) {
    if (name != kKeysFileName && name != kDeletionsFileName) throw ToolError("\"" + name + "\" is not a key file of this tool");
}

}  // namespace

std::string CanonicalKey(const std::string& text) {
    const auto key = nlohmann::json::parse(text, nullptr, false);
    if (key.is_discarded() || !key.is_array() || key.empty() || !key[0].is_string()) {
        throw ToolError("a key is not [id, key values...]: " + text.substr(0, 200));
    }
    return key.dump();
}

void Normalise(KeySet& keys) {
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
}

// The data files are read on as many threads as there are cores: parsing every item is the
// cost here.
KeySet KeysOfItems(const BackupStore& store, const std::vector<DataFile>& files, const nlohmann::json& partitionKey) {
    const ItemKeyMaker maker(partitionKey);
    std::vector<KeySet> parts(files.size());
    ParallelFor(files.size(), std::max(1u, std::thread::hardware_concurrency()), [&](std::size_t i) {
        auto& keys = parts[i];
        keys.reserve(static_cast<std::size_t>(files[i].items));
        ForEachItemIn(store, files[i], [&](const std::string& text) {
            const auto item = nlohmann::json::parse(text, nullptr, false);
            if (item.is_discarded() || !item.is_object()) throw ToolError("an item of " + store.Describe() + " is not a JSON object");
            keys.push_back(maker.KeyOf(item));
        });
    });
    return Concatenated(std::move(parts));
}

KeyGatherer::KeyGatherer(const nlohmann::json& partitionKey) : m_partitionKey(partitionKey) {}

void KeyGatherer::AddPage(const std::vector<CloudSDKCppBridge::SString>& items) {
    const ItemKeyMaker maker(m_partitionKey);
    KeySet keys;
    keys.reserve(items.size());
    for (const auto& text : items) {
        const auto item = nlohmann::json::parse(text.strValue, nullptr, false);
        if (item.is_discarded() || !item.is_object()) throw ToolError("the service answered an item that is not a JSON object");
        keys.push_back(maker.KeyOf(item));
    }
    std::lock_guard<std::mutex> hold(m_lock);
    m_pages.push_back(std::move(keys));
}

KeySet KeyGatherer::Take(KeySet more) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_pages.push_back(std::move(more));
    auto keys = Concatenated(std::move(m_pages));
    m_pages.clear();
    return keys;
}

namespace {

// The keys of one range, on a bridge object of its own.
KeySet ReadRangeKeys(const LiveKeyRead& read, nlohmann::json range, RequestUsage& usage) {
    Connection connection(read.connection);
    auto& bridge = connection.bridge();
    connection.Require(bridge.OpenCosmosDBContainer("", read.database, false, read.container, ""),
                       "cannot open " + read.database + "/" + read.container);
    range["read"] = "keys";
    KeySet keys;
    std::vector<CloudSDKCppBridge::SString> page;
    std::string continuation = range.dump(), next;
    bool more = true;
    while (more) {
        page.clear();
        connection.Require(bridge.GetCosmosDBData(continuation, read.pageSize, next, more, page),
                           "cannot read the keys of range " + range.value("id", std::string()));
        for (const auto& key : page) keys.push_back(CanonicalKey(key.strValue));
        continuation = next;
    }
    usage = ReadUsage(connection);
    return keys;
}

}  // namespace

KeySet ReadLiveKeys(Connection& connection, const LiveKeyRead& read, RequestUsage& usage) {
    const auto ranges = connection.PartitionKeyRanges();
    std::vector<KeySet> parts(ranges.size());
    std::vector<RequestUsage> usages(ranges.size());
    ParallelFor(ranges.size(), static_cast<std::size_t>(std::max(1, read.parallelism)),
                [&](std::size_t i) {
                    const SemaphoreHold slot(read.readerSlots);
                    parts[i] = ReadRangeKeys(read, ranges[i], usages[i]);
                });
    for (const auto& u : usages) usage += u;
    return Concatenated(std::move(parts));
}

DataFile WriteKeyFile(BackupStore& store, const std::string& name, const KeySet& keys) {
    RequireKeyFileName(name);
    GzipLineWriter writer(store, name);
    for (const auto& key : keys) writer.WriteLine(key);
    const auto stored = writer.Close();
    return DataFile{name, static_cast<std::int64_t>(keys.size()), stored.bytes, stored.crc32, stored.md5};
}

void CheckKeyFile(const BackupStore& store, const DataFile& entry) {
    RequireKeyFileName(entry.name);
    CheckFileEntry(store, store.List(), entry, "key file");
}

KeySet ReadKeyFile(const BackupStore& store, const DataFile& entry) {
    CheckKeyFile(store, entry);
    const auto where = store.Describe() + "/" + entry.name;
    GzipLineReader reader(store, entry.name, kMaxKeyBytes);
    KeySet keys;
    // The count is the manifest's, which is input: a reservation no larger than the file.
    keys.reserve(static_cast<std::size_t>(std::clamp<std::int64_t>(entry.items, 0, entry.bytes)));
    std::string line;
    while (reader.ReadLine(line)) {
        if (CanonicalKey(line) != line) throw ToolError(where + ": a key is not in its canonical form");
        if (!keys.empty() && !(keys.back() < line)) throw ToolError(where + ": the keys are not in order");
        keys.push_back(line);
    }
    if (static_cast<std::int64_t>(keys.size()) != entry.items) {
        throw ToolError(where + " holds " + std::to_string(keys.size()) + " keys, the manifest says " + std::to_string(entry.items));
    }
    return keys;
}

}  // namespace cosmosbackup
