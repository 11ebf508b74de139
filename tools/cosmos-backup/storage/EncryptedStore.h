#pragma once

#include "storage/BackupStore.h"
#include "storage/EncryptedNames.h"
#include "storage/KeySlots.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace cosmosbackup {

// A backup location whose every file is encrypted and authenticated (EncryptedFile.h) and whose
// file names are encrypted (EncryptedNames.h), over any other store. Callers see logical names
// and content; the inner store holds nothing but opaque names, the key slots (KeySlots.h) and
// locks. Versions, locks and atomicity are the inner store's.
class EncryptedStore : public BackupStore {
public:
    // A location opened with its master key. `logicalPath` is where it lies below the location
    // that holds the key slots ("" there, "DB/CONTAINER/" below): it is bound into every file,
    // so that a file moved between two such locations fails authentication too.
    EncryptedStore(std::shared_ptr<BackupStore> inner, std::string masterKey, std::string logicalPath = "");
    // A location without key slots yet, for a new backup: its master key is made, and its first
    // slot (for `password`) written, when the first file is written. When another run (a shard)
    // founded it meanwhile, that run's key is taken instead.
    EncryptedStore(std::shared_ptr<BackupStore> inner, std::shared_ptr<const StorePassword> password);

    std::string Describe() const override { return m_inner->Describe(); }
    void CreateNew() override;
    bool CreateExclusive(const std::string& name, const std::string& content) override;
    std::vector<StoredFile> List() const override;
    std::unique_ptr<StoredFileReader> OpenRead(const std::string& name) const override;
    std::unique_ptr<StoredFileWriter> OpenWrite(const std::string& name) override;
    void Remove(const std::string& name) override;
    // `name` is a logical name, or one as stored (a path that names sub-locations as stored).
    std::unique_ptr<BackupStore> Below(const std::string& name) const override;
    std::unique_ptr<StoreLock> TryLock(const std::string& name, const std::string& owner, std::string& holder) override;

private:
    struct Keys {
        std::string master;
        std::shared_ptr<const EncryptedNames> names;
    };
    // The keys; for a location not founded yet, `found` writes its first slot (else a key
    // that is used for nothing lasting).
    Keys KeysOf(bool found) const;
    void Adopt(const std::string& masterKey) const;

    std::shared_ptr<BackupStore> m_inner;
    std::string m_logicalPath;
    mutable std::shared_ptr<const StorePassword> m_password;  // until founded
    mutable std::mutex m_mutex;
    mutable std::optional<Keys> m_keys;
};

}  // namespace cosmosbackup
