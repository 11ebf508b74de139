#include "support/Secrets.h"

#include "support/ToolError.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace cosmosbackup {
namespace {

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// The content of a secret's file (`what`: "key", "password"), refused when others may read it.
std::string ReadOwnerOnlyFile(const std::string& path, const std::string& what) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) throw ToolError("cannot read the " + what + " file " + path);
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        throw ToolError("the " + what + " file " + path + " may be read by others; make it owner-only (chmod 600)");
    }
    std::ifstream in(path);
    if (!in) throw ToolError("cannot open the " + what + " file " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string ReadKeyFile(const std::string& path) { return Trimmed(ReadOwnerOnlyFile(path, "key")); }

}  // namespace

std::string ReadPasswordFile(const std::string& path) {
    std::string password = ReadOwnerOnlyFile(path, "password");
    if (!password.empty() && password.back() == '\n') password.pop_back();
    if (!password.empty() && password.back() == '\r') password.pop_back();
    if (password.empty()) throw ToolError("the password file " + path + " is empty");
    return password;
}

std::string ReadBackupPassword(const std::string& filePath) {
    if (!filePath.empty()) return ReadPasswordFile(filePath);
    const char* file = std::getenv("COSMOS_BACKUP_PASSWORD_FILE");
    if (file != nullptr && *file != '\0') return ReadPasswordFile(file);
    const char* value = std::getenv("COSMOS_BACKUP_PASSWORD");
    return value == nullptr ? "" : value;
}

std::string ReadAccountKey(const KeySource& source) {
    std::string key;
    if (!source.filePath.empty()) {
        key = ReadKeyFile(source.filePath);
        if (key.empty()) throw ToolError("the key file " + source.filePath + " is empty");
        return key;
    }
    const char* value = std::getenv(source.envName.c_str());
    if (value == nullptr || *value == '\0') {
        throw ToolError("no account key: set " + source.envName + " or pass --key-file");
    }
    return Trimmed(value);
}

}  // namespace cosmosbackup
