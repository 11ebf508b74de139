#pragma once

#include "format/ReadPart.h"
#include "format/Manifest.h"
#include "service/Connection.h"
#include "service/RequestUsage.h"
#include "support/Semaphore.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cosmosbackup {

// A set of item keys, each the canonical JSON text [id, value at each partition key path]
// ({} where the item has none); once normalised, sorted and without repeats, so that sets
// compare by merging. Compact, because an increment holds a whole container's keys: the texts
// lie end to end in blocks of up to 1 MiB, and each key costs 8 bytes beside its text.
class KeySet {
public:
    class const_iterator;

    KeySet() = default;
    KeySet(std::initializer_list<std::string_view> keys);

    // Throws ToolError for a key longer than kMaxKeyBytes.
    void Add(std::string_view key);
    void Reserve(std::size_t keys) { m_entries.reserve(keys); }
    // Sorts and removes repeats.
    void Normalise();

    // Of a normalised set: the key's position, size() when it is not there.
    std::size_t Position(std::string_view key) const;
    bool Contains(std::string_view key) const { return Position(key) != size(); }
    std::size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    std::string_view operator[](std::size_t i) const { return View(m_entries[i]); }
    const_iterator begin() const;
    const_iterator end() const;
    friend bool operator==(const KeySet& a, const KeySet& b);

private:
    struct Entry {
        std::uint64_t block : 26;
        std::uint64_t offset : 21;
        std::uint64_t length : 17;
    };
    std::string_view View(Entry e) const { return {m_blocks[e.block].data() + e.offset, e.length}; }

    std::vector<std::vector<char>> m_blocks;  // each filled up to its reserved capacity, never moved
    std::vector<Entry> m_entries;
};

class KeySet::const_iterator {
public:
    const_iterator(const KeySet* set, std::size_t i) : m_set(set), m_i(i) {}
    std::string_view operator*() const { return (*m_set)[m_i]; }
    const_iterator& operator++() {
        ++m_i;
        return *this;
    }
    bool operator==(const const_iterator& o) const { return m_i == o.m_i; }
    bool operator!=(const const_iterator& o) const { return m_i != o.m_i; }

private:
    const KeySet* m_set;
    std::size_t m_i;
};

inline KeySet::const_iterator KeySet::begin() const { return {this, 0}; }
inline KeySet::const_iterator KeySet::end() const { return {this, size()}; }

// A key is an id of at most 1023 bytes and up to three key values.
inline constexpr std::size_t kMaxKeyBytes = (64u << 10) - 1;

// Keys in order, one at a time: a key stays valid until the next call.
class KeyCursor {
public:
    virtual ~KeyCursor() = default;
    // False at the end.
    virtual bool Next(std::string_view& key) = 0;
};

// The union of normalised sets, in order, without repeats, streamed.
class MergedKeys : public KeyCursor {
public:
    explicit MergedKeys(const std::vector<KeySet>& parts);
    bool Next(std::string_view& key) override;

private:
    struct Head {
        std::string_view key;
        std::size_t part;
        std::size_t next;
    };
    const std::vector<KeySet>& m_parts;
    std::vector<Head> m_heap;  // a min-heap by key
    std::string_view m_last;
    bool m_started = false;
};

// The canonical text of a key as the wrapper's key-only read gives it; throws ToolError.
std::string CanonicalKey(const std::string& text);

// The keys of every item in the data files of the backup in `store`: one normalised set per file.
std::vector<KeySet> KeysOfItems(const BackupStore& store, const Manifest& manifest);
// The same for some data files of `store`, their items keyed by `partitionKey`.
std::vector<KeySet> KeysOfFiles(const BackupStore& store, const std::vector<DataFile>& files, const nlohmann::json& partitionKey);

// Gathers the keys of a backup's items while the readers write them, so that the key file
// needs no second read of the data files. Readers hand over their pages from their own
// threads (one lock per page).
class KeyGatherer {
public:
    explicit KeyGatherer(const nlohmann::json& partitionKey);
    void AddPage(const std::vector<CloudSDKCppBridge::SString>& items);
    // The same from a page's bytes: only the key values of each item are parsed.
    void AddPage(const CloudSDKCppBridge::SItemPage& page);
    // Everything gathered, normalised.
    KeySet Take();

private:
    nlohmann::json m_partitionKey;
    std::mutex m_lock;
    KeySet m_keys;
};

struct LiveKeyRead {
    ConnectionOptions connection;  // for the readers' own bridge objects
    std::string database;
    std::string container;
    int parallelism = 4;           // ranges read at once
    long long pageSize = 10000;    // keys per request
    Semaphore* readerSlots = nullptr;  // a run over many containers: its bound on all readers
    // A shard: only these parts of the key space ({"id","minInclusive","maxExclusive"}), not the
    // container's ranges.
    std::optional<std::vector<ReadPart>> parts;
};

// Every key the container holds now (or its parts, read.parts), read with a key-only query (the wrapper's "keys" read)
// per range of the open container on `connection`, `parallelism` ranges at once, each on a
// bridge object of its own: one normalised set per range. `usage` receives what the readers'
// requests cost.
std::vector<KeySet> ReadLiveKeys(Connection& connection, const LiveKeyRead& read, RequestUsage& usage);

// Key files of a backup (keys.jsonl.gz, deletions.jsonl.gz) in `store`: one key per line,
// gzip, committed (durable, owner only) before the manifest that lists them. `name` is one
// of the key file names (ChainRecord.h).
DataFile WriteKeyFile(BackupStore& store, const std::string& name, const KeySet& keys);
DataFile WriteKeyFile(BackupStore& store, const std::string& name, KeyCursor& keys);

// A key file read front to back, checked as it goes against its manifest entry (every line a
// key of at most kMaxKeyBytes in its canonical form, in order, as many as the entry says);
// throws ToolError naming the file. Check the entry's size and checksum first (CheckKeyFile).
class KeyFileCursor : public KeyCursor {
public:
    KeyFileCursor(const BackupStore& store, const DataFile& entry);
    ~KeyFileCursor() override;
    bool Next(std::string_view& key) override;

private:
    struct Reader;
    std::unique_ptr<Reader> m_reader;
};

// Checks the file against its manifest entry (one of the key file names, a plain file, size, CRC-32,
// count, every line a key in order) and returns its keys; throws ToolError naming the file otherwise.
KeySet ReadKeyFile(const BackupStore& store, const DataFile& entry);
// Only the entry's name, size and checksum, without reading the keys.
void CheckKeyFile(const BackupStore& store, const DataFile& entry);

}  // namespace cosmosbackup
