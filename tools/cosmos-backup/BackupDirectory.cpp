#include "BackupDirectory.h"

#include "ToolError.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace cosmosbackup {

void CreateBackupDirectory(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::exists(path, error)) {
        if (!fs::is_directory(path, error)) throw ToolError(path + " exists and is not a directory");
        if (!fs::is_empty(path, error)) throw ToolError(path + " is not empty; give a new directory for the backup");
    } else {
        const auto parent = fs::path(path).parent_path();
        if (!parent.empty()) fs::create_directories(parent, error);
        if (mkdir(path.c_str(), S_IRWXU) != 0) {
            throw ToolError("cannot create " + path + ": " + std::strerror(errno));
        }
    }
    // mkdir honours the umask, and an existing empty directory keeps its mode: set it here.
    if (chmod(path.c_str(), S_IRWXU) != 0) throw ToolError("cannot restrict " + path + ": " + std::strerror(errno));
}

std::string DataFileName(int index) {
    char name[32];
    std::snprintf(name, sizeof name, "items-%05d.jsonl.gz", index);
    return name;
}

}  // namespace cosmosbackup
