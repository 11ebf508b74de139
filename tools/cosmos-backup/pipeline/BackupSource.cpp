#include "pipeline/BackupSource.h"

#include "format/Manifest.h"
#include "storage/OpenBackupStore.h"
#include "support/ToolError.h"

namespace cosmosbackup {
namespace {

bool HoldsManifest(const BackupStore& store, const std::string& name) {
    for (const auto& file : store.List()) {
        if (file.name == name) return true;
    }
    return false;
}

}  // namespace

void NameBackupSource(BackupOptions& options) {
    if (!options.database.empty() && !options.container.empty()) return;
    if (!options.since.empty()) {
        // The parent the run opened already, where it did.
        const auto parent = options.sinceStore ? options.sinceStore : OpenBackupStore(options.since, options.storage);
        if (HoldsManifest(*parent, kManifestName)) {
            const Manifest manifest = ReadManifest(*parent);
            if (options.database.empty()) options.database = manifest.sourceDatabase;
            if (options.container.empty()) options.container = manifest.sourceContainer;
            return;
        }
    }
    throw UsageError("backup needs --database and --container, or --all-databases for every container of the account"
                     " (an increment takes its source from --since)");
}

}  // namespace cosmosbackup
