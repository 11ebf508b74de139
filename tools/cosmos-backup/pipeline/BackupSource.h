#pragma once

#include "pipeline/FullBackup.h"

namespace cosmosbackup {

// Completes the source of a new backup of one container: what --database and --container give,
// and for an increment what they leave out taken from the backup --since names (the parent is a
// backup of the very container). Throws UsageError when neither names it.
void NameBackupSource(BackupOptions& options);

}  // namespace cosmosbackup
