#include "BackupFiles.h"

#include "GzipFile.h"
#include "ToolError.h"

#include <filesystem>

namespace cosmosbackup {

void CheckDataFiles(const std::string& directory, const Manifest& manifest) {
    std::int64_t items = 0;
    for (const auto& file : manifest.files) {
        const auto path = (std::filesystem::path(directory) / file.name).string();
        std::error_code error;
        const auto size = std::filesystem::file_size(path, error);
        if (error) throw ToolError("data file " + path + " is missing");
        if (static_cast<std::int64_t>(size) != file.bytes) {
            throw ToolError("data file " + path + " has " + std::to_string(size) + " bytes, the manifest says " +
                            std::to_string(file.bytes));
        }
        if (FileCrc32(path) != file.crc32) throw ToolError("data file " + path + " does not match its checksum");
        items += file.items;
    }
    if (items != manifest.itemCount) {
        throw ToolError("the manifest's files hold " + std::to_string(items) + " items, its total says " +
                        std::to_string(manifest.itemCount));
    }
}

std::int64_t ForEachItem(const std::string& directory, const Manifest& manifest,
                         const std::function<void(const std::string&)>& onItem) {
    std::int64_t total = 0;
    std::string line;
    for (const auto& file : manifest.files) {
        const auto path = (std::filesystem::path(directory) / file.name).string();
        GzipLineReader reader(path);
        std::int64_t items = 0;
        while (reader.ReadLine(line)) {
            onItem(line);
            ++items;
        }
        if (items != file.items) {
            throw ToolError(path + " holds " + std::to_string(items) + " items, the manifest says " +
                            std::to_string(file.items));
        }
        total += items;
    }
    return total;
}

}  // namespace cosmosbackup
