#pragma once

#include "Connection.h"
#include "Manifest.h"

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

// The keys of every item in the backup's data files.
KeySet KeysOfItems(const std::string& directory, const Manifest& manifest);

// Every key the open container holds now, read range by range with a key-only query (the
// wrapper's "keys" read), `pageSize` keys per request.
KeySet ReadLiveKeys(Connection& connection, long long pageSize);

// Key files of a backup (keys.jsonl.gz, deletions.jsonl.gz): one key per line, gzip, owner
// only, made durable before the manifest that lists them. `name` is the file's plain name.
DataFile WriteKeyFile(const std::string& directory, const std::string& name, const KeySet& keys);
// Checks the file against its manifest entry (regular file, size, CRC-32, count, every line a
// key in order) and returns its keys; throws ToolError naming the file otherwise.
KeySet ReadKeyFile(const std::string& directory, const DataFile& entry);
// Only the entry's size and checksum, without reading the keys.
void CheckKeyFile(const std::string& directory, const DataFile& entry);

}  // namespace cosmosbackup
