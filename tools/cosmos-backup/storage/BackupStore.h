#pragma once

#include "storage/StoreLock.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cosmosbackup {

// One entry of a backup location. `plain` is false for anything that is not a plain file of
// the location itself (a subdirectory, a symbolic link, a device, a blob under a deeper prefix):
// readers of a backup refuse such entries rather than follow them.
struct StoredFile {
    std::string name;
    std::int64_t size = 0;
    bool plain = true;
    std::string md5 = {};  // the storage's own MD5 of the content (base64), where it keeps one; else ""
};

// A file being read from a backup location, front to back.
class StoredFileReader {
public:
    virtual ~StoredFileReader() = default;
    // Copies up to `capacity` bytes into `buffer`; returns 0 at the end of the file only.
    // Throws ToolError when the file cannot be read or is not what was stored.
    virtual std::size_t Read(char* buffer, std::size_t capacity) = 0;
};

// A file being written into a backup location. Nothing shows under its name until Commit,
// which makes the whole file visible at once and durable; a writer destroyed without Commit
// leaves the name as it was.
class StoredFileWriter {
public:
    virtual ~StoredFileWriter() = default;
    virtual void Write(const char* data, std::size_t size) = 0;
    virtual void Commit() = 0;
};

// Throws ToolError unless `name` is a plain file name: not empty, not "." or "..", no '/' and
// no NUL. Names come from manifests, which are input like any other.
void RequirePlainName(const std::string& name);
// Throws ToolError unless `name` is a plain file name that IsLockName takes.
void RequireLockName(const std::string& name);

// Where a backup lives: a local directory or a blob prefix. Backup, restore, verify and resume
// reach their files only through this, so that they know no paths or URLs. Every method throws
// ToolError naming the location (never a credential) when the storage refuses.
// Readers and writers of different files may be used from different threads at the same time.
//
// A store is opened once per command, and pins every file to the version it first read: a later
// OpenRead of a file that was replaced since (by anyone but this store) throws ToolError, so that
// a restore or verify never uses bytes other than those it checked.
class BackupStore {
public:
    virtual ~BackupStore() = default;

    // The location as the user gave it, for messages.
    virtual std::string Describe() const = 0;
    // Makes the location ready for a new backup; refuses one that holds anything but locks
    // already, so that a backup never mixes with another.
    virtual void CreateNew() = 0;
    // Creates `name` holding `content` only when no file of that name exists, atomically: of
    // several runs that try at once exactly one gets true, the others false. A backup claims
    // its location this way with its first record.
    virtual bool CreateExclusive(const std::string& name, const std::string& content) = 0;
    // The entries of the location, in name order; none when the location does not exist. Locks
    // (IsLockName) are not among them.
    virtual std::vector<StoredFile> List() const = 0;
    virtual std::unique_ptr<StoredFileReader> OpenRead(const std::string& name) const = 0;
    virtual std::unique_ptr<StoredFileWriter> OpenWrite(const std::string& name) = 0;
    // Removes a file (an empty sub-location too, where the storage has directories); a name that
    // does not exist is not an error.
    virtual void Remove(const std::string& name) = 0;
    // The location `name` (a plain name) below this one, in the same storage and sharing its
    // client: an account backup keeps one backup per container there. Its Describe() is this
    // one's followed by "/" and the name, so relative links between backups resolve alike.
    virtual std::unique_ptr<BackupStore> Below(const std::string& name) const = 0;
    // Takes the lock `name` (a plain file name in this location; the location is created when it
    // does not exist yet) for `owner` (a text saying who holds it, e.g. "host h1, pid 4711, since
    // 2026-12-08T15:30:00Z"). Returns null without waiting when another run holds it, and then sets
    // `holder` to that run's owner text ("" when it cannot be read). `name` must end in kLockSuffix.
    virtual std::unique_ptr<StoreLock> TryLock(const std::string& name, const std::string& owner, std::string& holder) = 0;
};

}  // namespace cosmosbackup
