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

// Blocks grow with the set (a small set stays small) up to this size; a key never spans two.
constexpr std::size_t kMinBlockBytes = 4u << 10;
constexpr std::size_t kMaxBlockBytes = 1u << 20;

void RequireKeyFileName(const std::string& name) {
    if (name != kKeysFileName && name != kDeletionsFileName && name != kLiveKeysFileName) throw ToolError("\"" + name + "\" is not a key file of this tool");
}

}  // namespace

KeySet::KeySet(std::initializer_list<std::string_view> keys) {
    for (const auto key : keys) Add(key);
}

void KeySet::Add(std::string_view key) {
    if (key.size() > kMaxKeyBytes) throw ToolError("a key is longer than " + std::to_string(kMaxKeyBytes) + " bytes");
    if (m_blocks.empty() || m_blocks.back().capacity() - m_blocks.back().size() < key.size()) {
        const std::size_t grown = m_blocks.empty() ? kMinBlockBytes : std::min(kMaxBlockBytes, 2 * m_blocks.back().capacity());
        m_blocks.emplace_back();
        m_blocks.back().reserve(std::max(grown, key.size()));
    }
    auto& block = m_blocks.back();
    m_entries.push_back(Entry{m_blocks.size() - 1, block.size(), key.size()});
    block.insert(block.end(), key.begin(), key.end());
}

void KeySet::Normalise() {
    std::sort(m_entries.begin(), m_entries.end(), [this](Entry a, Entry b) { return View(a) < View(b); });
    m_entries.erase(std::unique(m_entries.begin(), m_entries.end(), [this](Entry a, Entry b) { return View(a) == View(b); }),
                    m_entries.end());
}

std::size_t KeySet::Position(std::string_view key) const {
    const auto at = std::lower_bound(m_entries.begin(), m_entries.end(), key, [this](Entry e, std::string_view k) { return View(e) < k; });
    return at != m_entries.end() && View(*at) == key ? static_cast<std::size_t>(at - m_entries.begin()) : size();
}

bool operator==(const KeySet& a, const KeySet& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

MergedKeys::MergedKeys(const std::vector<KeySet>& parts) : m_parts(parts) {
    for (std::size_t p = 0; p < parts.size(); ++p) {
        if (!parts[p].empty()) m_heap.push_back(Head{parts[p][0], p, 1});
    }
    std::make_heap(m_heap.begin(), m_heap.end(), [](const Head& a, const Head& b) { return a.key > b.key; });
}

bool MergedKeys::Next(std::string_view& key) {
    const auto later = [](const Head& a, const Head& b) { return a.key > b.key; };
    while (!m_heap.empty()) {
        std::pop_heap(m_heap.begin(), m_heap.end(), later);
        Head& head = m_heap.back();
        const std::string_view found = head.key;
        const KeySet& part = m_parts[head.part];
        if (head.next < part.size()) {
            head.key = part[head.next++];
            std::push_heap(m_heap.begin(), m_heap.end(), later);
        } else {
            m_heap.pop_back();
        }
        if (m_started && found == m_last) continue;  // the same key in another part
        m_started = true;
        m_last = found;
        key = found;
        return true;
    }
    return false;
}

std::string CanonicalKey(const std::string& text) {
    const auto key = nlohmann::json::parse(text, nullptr, false);
    if (key.is_discarded() || !key.is_array() || key.empty() || !key[0].is_string()) {
        throw ToolError("a key is not [id, key values...]: " + text.substr(0, 200));
    }
    return key.dump();
}

// The data files are read on as many threads as there are cores: parsing every item is the
// cost here.
std::vector<KeySet> KeysOfItems(const BackupStore& store, const Manifest& manifest) {
    return KeysOfFiles(store, manifest.files, manifest.partitionKey);
}

std::vector<KeySet> KeysOfFiles(const BackupStore& store, const std::vector<DataFile>& files, const nlohmann::json& partitionKey) {
    const ItemKeyMaker maker(partitionKey);
    std::vector<KeySet> parts(files.size());
    ParallelFor(files.size(), std::max(1u, std::thread::hardware_concurrency()), [&](std::size_t i) {
        auto& keys = parts[i];
        keys.Reserve(static_cast<std::size_t>(std::max<std::int64_t>(0, files[i].items)));
        ForEachItemIn(store, files[i], [&](const std::string& text) {
            const auto item = nlohmann::json::parse(text, nullptr, false);
            if (item.is_discarded() || !item.is_object()) throw ToolError("an item of " + store.Describe() + " is not a JSON object");
            keys.Add(maker.KeyOf(item));
        });
        keys.Normalise();
    });
    return parts;
}

KeyGatherer::KeyGatherer(const nlohmann::json& partitionKey) : m_partitionKey(partitionKey) {}

void KeyGatherer::AddPage(const std::vector<CloudSDKCppBridge::SString>& items) {
    const ItemKeyMaker maker(m_partitionKey);
    std::vector<std::string> keys;
    keys.reserve(items.size());
    for (const auto& text : items) {
        const auto item = nlohmann::json::parse(text.strValue, nullptr, false);
        if (item.is_discarded() || !item.is_object()) throw ToolError("the service answered an item that is not a JSON object");
        keys.push_back(maker.KeyOf(item));
    }
    std::lock_guard<std::mutex> hold(m_lock);
    for (const auto& key : keys) m_keys.Add(key);
}

void KeyGatherer::AddPage(const CloudSDKCppBridge::SItemPage& page) {
    const ItemKeyMaker maker(m_partitionKey);
    std::vector<std::string> keys;
    keys.reserve(page.size());
    for (std::size_t i = 0; i < page.size(); ++i) keys.push_back(maker.KeyOfText(page.item(i)));
    std::lock_guard<std::mutex> hold(m_lock);
    for (const auto& key : keys) m_keys.Add(key);
}

KeySet KeyGatherer::Take() {
    std::lock_guard<std::mutex> hold(m_lock);
    m_keys.Normalise();
    return std::move(m_keys);
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
        for (const auto& key : page) keys.Add(CanonicalKey(key.strValue));
        continuation = next;
    }
    usage = ReadUsage(connection);
    keys.Normalise();
    return keys;
}

}  // namespace

std::vector<KeySet> ReadLiveKeys(Connection& connection, const LiveKeyRead& read, RequestUsage& usage) {
    std::vector<nlohmann::json> ranges;
    if (read.parts) ranges.assign(read.parts->begin(), read.parts->end());
    else ranges = connection.PartitionKeyRanges();
    std::vector<KeySet> parts(ranges.size());
    std::vector<RequestUsage> usages(ranges.size());
    ParallelFor(ranges.size(), static_cast<std::size_t>(std::max(1, read.parallelism)),
                [&](std::size_t i) {
                    const SemaphoreHold slot(read.readerSlots);
                    parts[i] = ReadRangeKeys(read, ranges[i], usages[i]);
                });
    for (const auto& u : usages) usage += u;
    return parts;
}

DataFile WriteKeyFile(BackupStore& store, const std::string& name, KeyCursor& keys) {
    RequireKeyFileName(name);
    GzipLineWriter writer(store, name);
    std::int64_t count = 0;
    for (std::string_view key; keys.Next(key); ++count) writer.WriteLine(key);
    const auto stored = writer.Close();
    return DataFile{name, count, stored.bytes, stored.crc32, stored.md5};
}

namespace {

// A set's keys as they stand.
class SetCursor : public KeyCursor {
public:
    explicit SetCursor(const KeySet& keys) : m_keys(keys) {}
    bool Next(std::string_view& key) override {
        if (m_next == m_keys.size()) return false;
        key = m_keys[m_next++];
        return true;
    }

private:
    const KeySet& m_keys;
    std::size_t m_next = 0;
};

}  // namespace

DataFile WriteKeyFile(BackupStore& store, const std::string& name, const KeySet& keys) {
    SetCursor cursor(keys);
    return WriteKeyFile(store, name, cursor);
}

void CheckKeyFile(const BackupStore& store, const DataFile& entry) {
    RequireKeyFileName(entry.name);
    CheckFileEntry(store, store.List(), entry, "key file");
}

struct KeyFileCursor::Reader {
    Reader(const BackupStore& store, const DataFile& entry)
        : where(store.Describe() + "/" + entry.name), expected(entry.items), lines(store, entry.name, kMaxKeyBytes) {}
    std::string where;
    std::int64_t expected;
    GzipLineReader lines;
    std::string line, previous;
    std::int64_t count = 0;
};

KeyFileCursor::KeyFileCursor(const BackupStore& store, const DataFile& entry) {
    RequireKeyFileName(entry.name);
    m_reader = std::make_unique<Reader>(store, entry);
}

KeyFileCursor::~KeyFileCursor() = default;

bool KeyFileCursor::Next(std::string_view& key) {
    auto& r = *m_reader;
    std::swap(r.line, r.previous);
    if (!r.lines.ReadLine(r.line)) {
        if (r.count != r.expected) {
            throw ToolError(r.where + " holds " + std::to_string(r.count) + " keys, the manifest says " + std::to_string(r.expected));
        }
        return false;
    }
    if (CanonicalKey(r.line) != r.line) throw ToolError(r.where + ": a key is not in its canonical form");
    if (r.count > 0 && !(r.previous < r.line)) throw ToolError(r.where + ": the keys are not in order");
    if (++r.count > r.expected) throw ToolError(r.where + " holds more keys than the manifest says (" + std::to_string(r.expected) + ")");
    key = r.line;
    return true;
}

KeySet ReadKeyFile(const BackupStore& store, const DataFile& entry) {
    CheckKeyFile(store, entry);
    KeyFileCursor cursor(store, entry);
    KeySet keys;
    // The count is the manifest's, which is input: a reservation no larger than the file.
    keys.Reserve(static_cast<std::size_t>(std::clamp<std::int64_t>(entry.items, 0, entry.bytes)));
    for (std::string_view key; cursor.Next(key);) keys.Add(key);
    return keys;
}

}  // namespace cosmosbackup
