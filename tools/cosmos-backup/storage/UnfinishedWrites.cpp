#include "storage/UnfinishedWrites.h"

#include <cstring>

namespace cosmosbackup {

bool IsUnfinishedWrite(const StoredFile& file) {
    const auto& name = file.name;
    const std::size_t partial = std::strlen(kUnfinishedWriteSuffix), claim = std::strlen(kUnfinishedClaimSuffix) + 6;
    const bool written = name.size() > partial && name.compare(name.size() - partial, partial, kUnfinishedWriteSuffix) == 0;
    const bool claimed = name.size() > claim && name.compare(name.size() - claim, claim - 6, kUnfinishedClaimSuffix) == 0;
    return file.plain && (written || claimed);
}

void RemoveUnfinishedWrites(BackupStore& store) {
    for (const auto& file : store.List()) {
        if (IsUnfinishedWrite(file)) store.Remove(file.name);
    }
}

}  // namespace cosmosbackup
