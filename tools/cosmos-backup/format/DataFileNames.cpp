#include "format/DataFileNames.h"

#include "support/ToolError.h"

#include <cstdio>
#include <filesystem>
#include <regex>

namespace cosmosbackup {

bool IsDataFileName(const std::string& name) {
    // items-NNNNN from one reader; items-rRRRR-NNNNN from a reader per key range.
    static const std::regex pattern("items-(r[0-9]{4}-)?[0-9]{5,9}\\.jsonl\\.gz");
    return std::regex_match(name, pattern);
}

std::string DataFilePath(const std::string& directory, const std::string& name) {
    if (!IsDataFileName(name)) {
        throw ToolError("the manifest names a data file \"" + name +
                        "\" that is not one of this tool's (items-NNNNN.jsonl.gz, items-rRRRR-NNNNN.jsonl.gz); the backup is not trusted");
    }
    return (std::filesystem::path(directory) / name).string();
}

std::string DataFileName(int index) {
    char name[32];
    std::snprintf(name, sizeof name, "items-%05d.jsonl.gz", index);
    return name;
}

}  // namespace cosmosbackup
