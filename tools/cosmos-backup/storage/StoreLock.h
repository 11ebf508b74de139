#pragma once

#include <cstring>
#include <string>

namespace cosmosbackup {

// An exclusive lock on a backup location, held by this process until destroyed. The storage
// releases it by itself when the process dies: the kernel for a directory, the lease's expiry
// in blob storage.
class StoreLock {
public:
    virtual ~StoreLock() = default;
    // Throws ToolError when the lock was lost (a blob lease that could not be renewed in time).
    virtual void RequireHeld() const = 0;
};

// Locks are files of the location whose names end in ".lock" (no other file of a backup does):
// List() does not show them, and a location that holds nothing but locks counts as empty, so
// that a writer may lock a location before it creates the backup there.
inline constexpr const char* kLockSuffix = ".lock";
// The lock of a whole location, taken by every run that changes it.
inline constexpr const char* kLockFileName = "backup.lock";

inline bool IsLockName(const std::string& name) {
    const std::size_t suffix = std::strlen(kLockSuffix);
    return name.size() > suffix && name.compare(name.size() - suffix, suffix, kLockSuffix) == 0;
}

}  // namespace cosmosbackup
