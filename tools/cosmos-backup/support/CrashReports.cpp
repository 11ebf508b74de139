#include "support/CrashReports.h"

#include "support/ToolError.h"

#include <sys/prctl.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace cosmosbackup {

void KeepSecretsOutOfCrashReports() {
    const rlimit none{0, 0};
    if (setrlimit(RLIMIT_CORE, &none) != 0) throw ToolError(std::string("cannot turn core dumps off: ") + std::strerror(errno));
    if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) {
        throw ToolError(std::string("cannot make the process undumpable: ") + std::strerror(errno));
    }
    const char* debug = std::getenv("MONO_DEBUG");
    const std::string options = debug != nullptr && *debug != '\0' ? std::string(debug) + ",no-gdb-backtrace" : "no-gdb-backtrace";
    setenv("MONO_DEBUG", options.c_str(), 1);
}

bool CoreDumpsAskedForByEnvironment() {
    const char* value = std::getenv("COSMOS_BACKUP_ALLOW_CORE_DUMPS");
    return value != nullptr && std::string(value) == "1";
}

}  // namespace cosmosbackup
