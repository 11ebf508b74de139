#include "BackupFiles.h"

#include "GzipFile.h"
#include "OpenBackupStore.h"
#include "ToolError.h"

#include <map>

namespace cosmosbackup {

void CheckDataFiles(const BackupStore& store, const Manifest& manifest) {
    std::map<std::string, StoredFile> present;
    for (auto& file : store.List()) present.emplace(file.name, file);
    std::int64_t items = 0;
    for (const auto& file : manifest.files) {
        const auto where = store.Describe() + "/" + file.name;
        const auto found = present.find(file.name);
        if (found == present.end()) throw ToolError("data file " + where + " is missing");
        if (!found->second.plain) throw ToolError("data file " + where + " is not a regular file");
        if (found->second.size != file.bytes) {
            throw ToolError("data file " + where + " has " + std::to_string(found->second.size) + " bytes, the manifest says " +
                            std::to_string(file.bytes));
        }
        if (FileCrc32(store, file.name) != file.crc32) throw ToolError("data file " + where + " does not match its checksum");
        items += file.items;
    }
    if (items != manifest.itemCount) {
        throw ToolError("the manifest's files hold " + std::to_string(items) + " items, its total says " +
                        std::to_string(manifest.itemCount));
    }
}

void CheckDataFiles(const std::string& location, const Manifest& manifest) {
    CheckDataFiles(*OpenBackupStore(location), manifest);
}

std::int64_t ForEachItem(const BackupStore& store, const Manifest& manifest,
                         const std::function<void(const std::string&)>& onItem) {
    std::int64_t total = 0;
    std::string line;
    for (const auto& file : manifest.files) {
        GzipLineReader reader(store, file.name);
        std::int64_t items = 0;
        while (reader.ReadLine(line)) {
            onItem(line);
            ++items;
        }
        if (items != file.items) {
            throw ToolError(store.Describe() + "/" + file.name + " holds " + std::to_string(items) +
                            " items, the manifest says " + std::to_string(file.items));
        }
        total += items;
    }
    return total;
}

std::int64_t ForEachItem(const std::string& location, const Manifest& manifest,
                         const std::function<void(const std::string&)>& onItem) {
    return ForEachItem(*OpenBackupStore(location), manifest, onItem);
}

}  // namespace cosmosbackup
