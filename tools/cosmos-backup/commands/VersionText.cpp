#include "commands/VersionText.h"

#include "CommitId.h"  // generated at every build: COSMOS_BACKUP_COMMIT

#include <CloudSDKCppBridge.h>

#include <cstdlib>

namespace cosmosbackup {

std::string VersionText() {
    setenv("CLOUDSDK_LOG", "/dev/null", 0);  // the runtime's start-up record is not the answer
    const CloudSDKCppBridge::CCloudSDKCppBridge bridge;  // starts the runtime once
    const std::string runtime = g_AzuremonoVersion.empty() ? "did not start" : "Mono " + g_AzuremonoVersion;
    return std::string("cosmos-backup ") + COSMOS_BACKUP_VERSION + " (commit " + COSMOS_BACKUP_COMMIT + "), runtime: " + runtime;
}

}  // namespace cosmosbackup
