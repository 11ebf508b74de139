#include "storage/LockOwner.h"

#include "support/UtcTime.h"

#include <unistd.h>

#include <climits>

namespace cosmosbackup {

std::string DescribeThisProcess() {
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    return "host " + std::string(host[0] != '\0' ? host : "?") + ", pid " + std::to_string(::getpid()) + ", since " + UtcNow();
}

std::string PrintableOwner(std::string text) {
    if (text.size() > 300) text.resize(300);
    for (auto& c : text) {
        if (c < ' ' || c > '~') c = '?';
    }
    return text;
}

}  // namespace cosmosbackup
