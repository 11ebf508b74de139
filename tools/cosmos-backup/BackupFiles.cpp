#include "BackupFiles.h"

#include "GzipFile.h"
#include "InputFile.h"
#include "ToolError.h"

namespace cosmosbackup {

void CheckFileEntry(const std::string& path, const DataFile& file, const std::string& kind) {
    off_t size = 0;
    try {
        const FileDescriptor fd = OpenRegularFile(path, size);
        RequireGzipMagic(fd.get(), path);
    } catch (const ToolError& e) {
        throw ToolError(kind + " " + path + " is missing or unusable: " + e.what());
    }
    if (static_cast<std::int64_t>(size) != file.bytes) {
        throw ToolError(kind + " " + path + " has " + std::to_string(size) + " bytes, the manifest says " + std::to_string(file.bytes));
    }
    if (FileCrc32(path) != file.crc32) throw ToolError(kind + " " + path + " does not match its checksum");
}

void CheckDataFiles(const std::string& directory, const Manifest& manifest) {
    std::int64_t items = 0;
    for (const auto& file : manifest.files) {
        CheckFileEntry(DataFilePath(directory, file.name), file, "data file");
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

// Every line of every data file, in order, with the file it is in and its number there;
// checks each file's line count against its manifest entry.
std::int64_t ForEachLine(const std::string& directory, const Manifest& manifest,
                         const std::function<void(const std::string&, std::int64_t, const std::string&)>& onLine) {
    std::int64_t total = 0;
    std::string line;
    for (const auto& file : manifest.files) {
        const auto path = DataFilePath(directory, file.name);
        GzipLineReader reader(path);
        std::int64_t items = 0;
        while (reader.ReadLine(line)) onLine(path, ++items, line);
        if (items != file.items) {
            throw ToolError(path + " holds " + std::to_string(items) + " items, the manifest says " +
                            std::to_string(file.items));
        }
        total += items;
    }
    return total;
}

}  // namespace

void CheckDataFileContents(const std::string& directory, const Manifest& manifest) {
    ForEachLine(directory, manifest, [](const std::string& path, std::int64_t number, const std::string& line) {
        if (!IsJsonObject(line)) throw ToolError(path + ": line " + std::to_string(number) + " is not a JSON object");
    });
}

std::int64_t ForEachItem(const std::string& directory, const Manifest& manifest,
                         const std::function<void(const std::string&)>& onItem) {
    return ForEachLine(directory, manifest, [&](const std::string&, std::int64_t, const std::string& line) { onItem(line); });
}

}  // namespace cosmosbackup
