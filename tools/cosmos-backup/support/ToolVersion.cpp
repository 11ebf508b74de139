#include "support/ToolVersion.h"

#ifndef COSMOS_BACKUP_VERSION
#define COSMOS_BACKUP_VERSION "unknown"
#endif

namespace cosmosbackup {

const char* ToolVersion() { return COSMOS_BACKUP_VERSION; }

}  // namespace cosmosbackup
