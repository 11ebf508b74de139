#pragma once

#include "format/Manifest.h"
#include "storage/BackupStore.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cosmosbackup {

// Checks every data file of a backup against its manifest entry (a plain name of the tool's
// own, a plain file of the location, the gzip magic, size, CRC-32), throwing ToolError naming
// the first that does not match.
void CheckDataFiles(const BackupStore& store, const Manifest& manifest);

// Checks one gzip file of a backup against its manifest entry (a plain file of the location,
// among `listed`, the store's List(), the gzip magic, size, CRC-32); `kind` names it in the error ("data file",
// "key file"). The caller checks that the name is one of the tool's own.
void CheckFileEntry(const BackupStore& store, const std::vector<StoredFile>& listed, const DataFile& file,
                    const std::string& kind);

// Reads every data file whole and checks its content: as many lines as its manifest entry
// says, each at most kMaxLineBytes and a JSON object. Together with CheckDataFiles, what a
// restore runs before its first write, so that a bad backup writes nothing.
void CheckDataFileContents(const BackupStore& store, const Manifest& manifest);

// Calls `onItem` for every item line of every data file in order, and checks that each file
// holds as many items as its manifest entry says. Returns the number of items.
std::int64_t ForEachItem(const BackupStore& store, const Manifest& manifest,
                         const std::function<void(const std::string&)>& onItem);
// The same for one data file.
std::int64_t ForEachItemIn(const BackupStore& store, const DataFile& file, const std::function<void(const std::string&)>& onItem);

}  // namespace cosmosbackup
