#include "storage/UnfinishedWrites.h"

#include <cstring>

namespace cosmosbackup {

bool IsUnfinishedWrite(const StoredFile& file) {
    const std::size_t suffix = std::strlen(kUnfinishedWriteSuffix);
    return file.plain && file.name.size() > suffix &&
           file.name.compare(file.name.size() - suffix, suffix, kUnfinishedWriteSuffix) == 0;
}

void RemoveUnfinishedWrites(BackupStore& store) {
    for (const auto& file : store.List()) {
        if (IsUnfinishedWrite(file)) store.Remove(file.name);
    }
}

}  // namespace cosmosbackup
