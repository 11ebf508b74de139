#include "format/DataFiles.h"

#include "format/LocationLayout.h"
#include "format/GzipFile.h"
#include "support/ToolError.h"

#include <algorithm>

namespace cosmosbackup {
namespace {

// CRC-32 of a stored file that must start with the gzip magic.
std::string GzipFileCrc32(const BackupStore& store, const std::string& name, const std::string& where) {
    auto reader = store.OpenRead(name);
    std::string chunk(1 << 16, '\0');
    uLong crc = crc32(0L, Z_NULL, 0);
    bool first = true;
    while (const auto got = reader->Read(chunk.data(), chunk.size())) {
        if (first && (got < 2 || static_cast<unsigned char>(chunk[0]) != 0x1f || static_cast<unsigned char>(chunk[1]) != 0x8b)) {
            throw ToolError(where + " is not a gzip file");
        }
        first = false;
        crc = crc32(crc, reinterpret_cast<const Bytef*>(chunk.data()), static_cast<uInt>(got));
    }
    if (first) throw ToolError(where + " is not a gzip file");
    return Crc32Hex(crc);
}

bool IsJsonObject(const std::string& line) {
    // Only the shape matters here: well-formed JSON whose value opens with a brace, checked
    // without building the value.
    const auto start = line.find_first_not_of(" \t\r\n");
    return start != std::string::npos && line[start] == '{' && nlohmann::json::accept(line);
}

// Every line of one data file, in order, with the file it is in and its number there; checks
// the file's line count against its manifest entry.
std::int64_t ForEachLineIn(const BackupStore& store, const DataFile& file,
                           const std::function<void(const std::string&, std::int64_t, const std::string&)>& onLine) {
    DataFilePath("", file.name);  // throws for a name that is not the tool's own
    const auto where = store.Describe() + "/" + file.name;
    GzipLineReader reader(store, file.name);
    std::string line;
    std::int64_t items = 0;
    while (reader.ReadLine(line)) onLine(where, ++items, line);
    if (items != file.items) {
        throw ToolError(where + " holds " + std::to_string(items) + " items, the manifest says " + std::to_string(file.items));
    }
    return items;
}

std::int64_t ForEachLine(const BackupStore& store, const Manifest& manifest,
                         const std::function<void(const std::string&, std::int64_t, const std::string&)>& onLine) {
    std::int64_t total = 0;
    for (const auto& file : manifest.files) total += ForEachLineIn(store, file, onLine);
    return total;
}

}  // namespace

void CheckFileEntry(const BackupStore& store, const std::vector<StoredFile>& listed, const DataFile& file, const std::string& kind) {
    const auto where = store.Describe() + "/" + file.name;
    // List() gives the entries in name order.
    const auto found = std::lower_bound(listed.begin(), listed.end(), file.name,
                                        [](const StoredFile& f, const std::string& name) { return f.name < name; });
    if (found == listed.end() || found->name != file.name) throw ToolError(kind + " " + where + " is missing");
    if (!found->plain) {
        store.OpenRead(file.name);  // says why, for a symbolic link
        throw ToolError(kind + " " + where + " is not a regular file");
    }
    if (found->size != file.bytes) {
        throw ToolError(kind + " " + where + " has " + std::to_string(found->size) + " bytes, the manifest says " +
                        std::to_string(file.bytes));
    }
    if (GzipFileCrc32(store, file.name, where) != file.crc32) throw ToolError(kind + " " + where + " does not match its checksum");
}

void CheckDataFiles(const BackupStore& store, const Manifest& manifest) {
    const auto listed = store.List();
    std::int64_t items = 0;
    for (const auto& file : manifest.files) {
        DataFilePath("", file.name);  // throws for a name that is not the tool's own
        CheckFileEntry(store, listed, file, "data file");
        items += file.items;
    }
    if (items != manifest.itemCount) {
        throw ToolError("the manifest's files hold " + std::to_string(items) + " items, its total says " +
                        std::to_string(manifest.itemCount));
    }
}

void CheckDataFileContents(const BackupStore& store, const Manifest& manifest) {
    ForEachLine(store, manifest, [](const std::string& where, std::int64_t number, const std::string& line) {
        if (!IsJsonObject(line)) throw ToolError(where + ": line " + std::to_string(number) + " is not a JSON object");
    });
}

std::int64_t ForEachItemIn(const BackupStore& store, const DataFile& file, const std::function<void(const std::string&)>& onItem) {
    return ForEachLineIn(store, file, [&](const std::string&, std::int64_t, const std::string& line) { onItem(line); });
}

std::int64_t ForEachItem(const BackupStore& store, const Manifest& manifest,
                         const std::function<void(const std::string&)>& onItem) {
    return ForEachLine(store, manifest, [&](const std::string&, std::int64_t, const std::string& line) { onItem(line); });
}

bool CheckDataFilesUnread(const BackupStore& store, const Manifest& manifest) {
    const auto listed = store.List();
    std::int64_t items = 0;
    bool vouched = true;
    for (const auto& file : manifest.files) {
        DataFilePath("", file.name);  // throws for a name that is not the tool's own
        const auto where = store.Describe() + "/" + file.name;
        const auto found = std::lower_bound(listed.begin(), listed.end(), file.name,
                                            [](const StoredFile& f, const std::string& name) { return f.name < name; });
        if (found == listed.end() || found->name != file.name) throw ToolError("data file " + where + " is missing");
        if (!found->plain) throw ToolError("data file " + where + " is not a regular file");
        if (found->size != file.bytes) {
            throw ToolError("data file " + where + " has " + std::to_string(found->size) + " bytes, the manifest says " +
                            std::to_string(file.bytes));
        }
        if (file.md5.empty() || found->md5.empty()) vouched = false;
        else if (found->md5 != file.md5) {
            throw ToolError("data file " + where + " does not match its checksum (the storage's MD5 is not the manifest's)");
        }
        items += file.items;
    }
    if (items != manifest.itemCount) {
        throw ToolError("the manifest's files hold " + std::to_string(items) + " items, its total says " +
                        std::to_string(manifest.itemCount));
    }
    return vouched;
}

std::int64_t ForEachCheckedItemIn(const BackupStore& store, const DataFile& file,
                                  const std::function<void(const std::string&)>& onItem) {
    DataFilePath("", file.name);
    const auto where = store.Describe() + "/" + file.name;
    GzipLineReader reader(store, file.name);
    std::string line;
    std::int64_t items = 0;
    while (reader.ReadLine(line)) {
        ++items;
        if (!IsJsonObject(line)) throw ToolError(where + ": line " + std::to_string(items) + " is not a JSON object");
        if (items > file.items) break;
        onItem(line);
    }
    if (items != file.items) {
        throw ToolError(where + " holds " + (items > file.items ? "more than " + std::to_string(file.items) : std::to_string(items)) +
                        " items, the manifest says " + std::to_string(file.items));
    }
    const auto stored = reader.Consumed();
    if (stored.bytes != file.bytes || stored.crc32 != file.crc32) throw ToolError("data file " + where + " does not match its checksum");
    return items;
}

}  // namespace cosmosbackup
