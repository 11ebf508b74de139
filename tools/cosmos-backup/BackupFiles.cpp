#include "BackupFiles.h"

#include "GzipFile.h"
#include "InputFile.h"
#include "ToolError.h"

namespace cosmosbackup {

void CheckDataFiles(const std::string& directory, const Manifest& manifest) {
    std::int64_t items = 0;
    for (const auto& file : manifest.files) {
        const auto path = DataFilePath(directory, file.name);
        off_t size = 0;
        try {
            const FileDescriptor fd = OpenRegularFile(path, size);
            RequireGzipMagic(fd.get(), path);
        } catch (const ToolError& e) {
            throw ToolError("data file " + path + " is missing or unusable: " + e.what());
        }
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

namespace {

bool IsJsonObject(const std::string& line) {
    // Only the shape matters here; a parse that fails says no.
    const auto parsed = nlohmann::json::parse(line, nullptr, false);
    return !parsed.is_discarded() && parsed.is_object();
}

}  // namespace

void CheckDataFileContents(const std::string& directory, const Manifest& manifest) {
    std::string line;
    for (const auto& file : manifest.files) {
        const auto path = DataFilePath(directory, file.name);
        GzipLineReader reader(path);
        std::int64_t items = 0;
        while (reader.ReadLine(line)) {
            ++items;
            if (!IsJsonObject(line)) throw ToolError(path + ": line " + std::to_string(items) + " is not a JSON object");
        }
        if (items != file.items) {
            throw ToolError(path + " holds " + std::to_string(items) + " items, the manifest says " + std::to_string(file.items));
        }
    }
}

std::int64_t ForEachItem(const std::string& directory, const Manifest& manifest,
                         const std::function<void(const std::string&)>& onItem) {
    std::int64_t total = 0;
    std::string line;
    for (const auto& file : manifest.files) {
        const auto path = DataFilePath(directory, file.name);
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
