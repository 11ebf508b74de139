#pragma once

#include "storage/BackupStore.h"
#include "storage/VersionPins.h"

#include <memory>

namespace cosmosbackup {

// A backup in a local directory (mode 0700, files 0600). Files are read without following
// symbolic links and only when they are regular files; a file is written under a temporary
// name, flushed to disk and renamed into place on Commit, and the directory is flushed after.
// A file's version is its identity (device, inode, size, modification and change times).
class DirectoryStore : public BackupStore {
public:
    explicit DirectoryStore(std::string path);

    std::string Describe() const override { return m_path; }
    void CreateNew() override;
    bool CreateExclusive(const std::string& name, const std::string& content) override;
    std::vector<StoredFile> List() const override;
    std::unique_ptr<StoredFileReader> OpenRead(const std::string& name) const override;
    std::unique_ptr<StoredFileWriter> OpenWrite(const std::string& name) override;
    void Remove(const std::string& name) override;
    std::unique_ptr<BackupStore> Below(const std::string& name) const override;
    // A lock file (DirectoryLock.h); the directory is created for it when missing.
    std::unique_ptr<StoreLock> TryLock(const std::string& name, const std::string& owner, std::string& holder) override;

private:
    std::string PathOf(const std::string& name) const;

    std::string m_path;
    // Shared with the writers, which may outlive a store opened for one call.
    std::shared_ptr<VersionPins> m_pins = std::make_shared<VersionPins>();
};

}  // namespace cosmosbackup
