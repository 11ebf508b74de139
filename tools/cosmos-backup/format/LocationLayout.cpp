#include "format/LocationLayout.h"

#include "storage/StoreLock.h"

#include <cstdint>
#include <cstdio>

namespace cosmosbackup {
namespace {

std::string HashedRecordName(const char* prefix, const std::string& identity, const char* suffix = ".json") {
    std::uint64_t hash = 1469598103934665603ULL;  // FNV-1a
    for (unsigned char c : identity) hash = (hash ^ c) * 1099511628211ULL;
    char name[64];
    std::snprintf(name, sizeof name, "%s%016llx%s", prefix, static_cast<unsigned long long>(hash), suffix);
    return name;
}

}  // namespace

std::string RestoreProgressName(const std::string& target) { return HashedRecordName(kRestoreProgressPrefix, target); }
std::string RestoreTargetName(const std::string& identity) { return HashedRecordName(kRestoreTargetPrefix, identity); }
std::string RestoreRidName(const std::string& identity) { return HashedRecordName(kRestoreRidPrefix, identity); }

std::optional<std::string> RestoreRecordPrefixOf(const std::string& name) {
    for (const char* prefix : {kRestoreProgressPrefix, kRestoreTargetPrefix, kRestoreRidPrefix}) {
        const std::string p = prefix;
        if (name.size() == p.size() + 16 + 5 && name.compare(0, p.size(), p) == 0 && name.compare(name.size() - 5, 5, ".json") == 0) {
            return p;
        }
    }
    return std::nullopt;
}

std::string RestoreLockName(const std::string& target) { return HashedRecordName("restore-", target, kLockSuffix); }

}  // namespace cosmosbackup
