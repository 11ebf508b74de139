#pragma once

#include "storage/BackupStore.h"
#include "storage/BlobClient.h"
#include "storage/BlobLease.h"
#include "storage/VersionPins.h"

#include <memory>

namespace cosmosbackup {

// A backup under a blob prefix of one container, each file a block blob. A file is uploaded in
// blocks while it is written (a few blocks in flight per file, each with its Content-MD5) and
// appears when its block list is committed, carrying the MD5 of the whole file; it is read
// back range by range, pinned to the version (ETag) this store first saw, and checked against
// that MD5. A container with an immutability policy or legal hold is refused by CreateNew: a
// backup overwrites and removes its checkpoints, which such a container forbids. A lock is a
// blob with a lease on it (BlobLease.h), renewed by a thread of its own; `lease` says how long a
// lease lasts and how often it is renewed.
class BlobStore : public BackupStore {
public:
    static constexpr std::size_t kDefaultBlockSize = 4 << 20;

    BlobStore(BlobLocation location, BlobCredentials credentials, RetryPolicy retry = {}, const std::string& proxy = "",
              std::size_t blockSize = kDefaultBlockSize, LeaseTiming lease = {});

    std::string Describe() const override;
    void CreateNew() override;
    bool CreateExclusive(const std::string& name, const std::string& content) override;
    std::vector<StoredFile> List() const override;
    std::unique_ptr<StoredFileReader> OpenRead(const std::string& name) const override;
    std::unique_ptr<StoredFileWriter> OpenWrite(const std::string& name) override;
    void Remove(const std::string& name) override;
    std::unique_ptr<BackupStore> Below(const std::string& name) const override;
    std::unique_ptr<StoreLock> TryLock(const std::string& name, const std::string& owner, std::string& holder) override;

private:
    BlobStore(std::shared_ptr<const BlobClient> client, std::size_t blockSize, LeaseTiming lease);
    std::vector<StoredFile> ListPage(bool deep, std::size_t pageSize, std::string& marker) const;
    void RefuseImmutableContainer() const;

    std::shared_ptr<const BlobClient> m_client;
    std::size_t m_blockSize;
    LeaseTiming m_lease;
    // Shared with the writers, which may outlive a store opened for one call.
    std::shared_ptr<VersionPins> m_pins = std::make_shared<VersionPins>();
};

}  // namespace cosmosbackup
