#include "storage/BackupStore.h"

#include "support/ToolError.h"

namespace cosmosbackup {

void RequirePlainName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find_first_of(std::string("/\0", 2)) != std::string::npos) {
        throw ToolError("\"" + name + "\" is not a plain file name");
    }
}

void RequireLockName(const std::string& name) {
    RequirePlainName(name);
    if (!IsLockName(name)) throw ToolError("\"" + name + "\" is no lock's name: a lock's ends in " + kLockSuffix);
}

}  // namespace cosmosbackup
