#pragma once

#include "format/Manifest.h"
#include "service/Connection.h"
#include "service/RequestUsage.h"
#include "support/Semaphore.h"

#include <mutex>
#include <string>
#include <vector>

namespace cosmosbackup {

// A set of item keys, each the canonical JSON text [id, value at each partition key path]
// ({} where the item has none), sorted and without repeats, so that sets compare by merging.
using KeySet = std::vector<std::string>;

// The canonical text of a key as the wrapper's key-only read gives it; throws ToolError.
std::string CanonicalKey(const std::string& text);

// Sorts and removes repeats.
void Normalise(KeySet& keys);

// The keys of every item in these data files of `store`, the items keyed by `partitionKey`.
KeySet KeysOfItems(const BackupStore& store, const std::vector<DataFile>& files, const nlohmann::json& partitionKey);

// Gathers the keys of a backup's items while the readers write them, so that the key file
// needs no second read of the data files. Each reader hands over its pages; keys of several
// readers are gathered at once (one lock per page).
class KeyGatherer {
public:
    explicit KeyGatherer(const nlohmann::json& partitionKey);
    void AddPage(const std::vector<CloudSDKCppBridge::SString>& items);
    // Everything gathered, with `more` (keys of files written by an earlier run), as one set.
    KeySet Take(KeySet more);

private:
    nlohmann::json m_partitionKey;
    std::mutex m_lock;
    std::vector<KeySet> m_pages;
};

struct LiveKeyRead {
    ConnectionOptions connection;  // for the readers' own bridge objects
    std::string database;
    std::string container;
    int parallelism = 4;           // ranges read at once
    long long pageSize = 10000;    // keys per request
    Semaphore* readerSlots = nullptr;  // a run over many containers: its bound on all readers
};

// Every key the container holds now, read with a key-only query (the wrapper's "keys" read)
// per range of the open container on `connection`, `parallelism` ranges at once, each on a
// bridge object of its own. `usage` receives what the readers' requests cost.
KeySet ReadLiveKeys(Connection& connection, const LiveKeyRead& read, RequestUsage& usage);

// Key files of a backup (keys.jsonl.gz, deletions.jsonl.gz) in `store`: one key per line,
// gzip, committed (durable, owner only) before the manifest that lists them. `name` is one
// of the two names.
DataFile WriteKeyFile(BackupStore& store, const std::string& name, const KeySet& keys);
// Checks the file against its manifest entry (one of the two names, a plain file, size, CRC-32,
// count, every line a key of at most 64 KiB, in order) and returns its keys; throws ToolError
// naming the file otherwise.
KeySet ReadKeyFile(const BackupStore& store, const DataFile& entry);
// Only the entry's name, size and checksum, without reading the keys.
void CheckKeyFile(const BackupStore& store, const DataFile& entry);

}  // namespace cosmosbackup
