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

std::string ReadKeyFile(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) throw ToolError("cannot read the key file " + path);
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        throw ToolError("the key file " + path + " may be read by others; make it owner-only (chmod 600)");
    }
    std::ifstream in(path);
    if (!in) throw ToolError("cannot open the key file " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return Trimmed(text.str());
}

}  // namespace

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
