#include "storage/EncryptedStore.h"

#include "storage/Cipher.h"
#include "storage/EncryptedFile.h"
#include "support/ToolError.h"

#include <algorithm>

namespace cosmosbackup {
namespace {

// The first slot of a new location has a fixed id, so that of several runs founding it at once
// exactly one writes its key and the others take that one.
const std::string kFoundingSlotId = "00000000";

}  // namespace

EncryptedStore::EncryptedStore(std::shared_ptr<BackupStore> inner, std::string masterKey, std::string logicalPath)
    : m_inner(std::move(inner)), m_logicalPath(std::move(logicalPath)) {
    Adopt(masterKey);
}

EncryptedStore::EncryptedStore(std::shared_ptr<BackupStore> inner, std::shared_ptr<const StorePassword> password)
    : m_inner(std::move(inner)), m_password(std::move(password)) {}

void EncryptedStore::Adopt(const std::string& masterKey) const {
    m_keys = Keys{masterKey, std::make_shared<const EncryptedNames>(masterKey)};
    m_password.reset();
}

EncryptedStore::Keys EncryptedStore::KeysOf(bool found) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_keys && !m_password) return *m_keys;
    const auto slots = ReadKeySlots(*m_inner);
    if (!slots.empty()) {
        Adopt(UnlockMasterKey(slots, *m_password, m_inner->Describe()));
        return *m_keys;
    }
    if (!m_keys) m_keys = Keys{RandomBytes(kAeadKeySize), nullptr};
    m_keys->names = std::make_shared<const EncryptedNames>(m_keys->master);
    if (!found) return *m_keys;
    if (AddKeySlot(*m_inner, m_keys->master, *m_password, kFoundingSlotId).empty()) {
        Adopt(UnlockMasterKey(ReadKeySlots(*m_inner), *m_password, m_inner->Describe()));
    } else {
        Adopt(m_keys->master);
    }
    return *m_keys;
}

void EncryptedStore::CreateNew() {
    // A location that holds its key slots and nothing else is as new as an empty one.
    bool onlySlots = true, empty = true;
    for (const auto& file : m_inner->List()) {
        empty = false;
        if (!file.plain || !IsKeySlotName(file.name)) onlySlots = false;
    }
    if (empty || !onlySlots) m_inner->CreateNew();
    KeysOf(true);
}

bool EncryptedStore::CreateExclusive(const std::string& name, const std::string& content) {
    const Keys keys = KeysOf(true);
    return m_inner->CreateExclusive(keys.names->ToStored(name), SealWhole(keys.master, m_logicalPath + name, content));
}

std::vector<StoredFile> EncryptedStore::List() const {
    const Keys keys = KeysOf(false);
    std::vector<StoredFile> files;
    for (auto file : m_inner->List()) {
        if (file.plain && IsKeySlotName(file.name)) continue;
        const auto name = keys.names->FromStored(file.name);
        if (!name) {
            file.plain = false;  // not this location's: readers refuse it
        } else {
            file.name = *name;
            if (file.plain) file.size = PlainSizeOf(file.size);
        }
        file.md5.clear();
        files.push_back(std::move(file));
    }
    std::sort(files.begin(), files.end(), [](const StoredFile& a, const StoredFile& b) { return a.name < b.name; });
    return files;
}

std::unique_ptr<StoredFileReader> EncryptedStore::OpenRead(const std::string& name) const {
    const Keys keys = KeysOf(false);
    return OpeningReader(m_inner->OpenRead(keys.names->ToStored(name)), keys.master, m_logicalPath + name,
                         m_inner->Describe() + " file " + m_logicalPath + name);
}

std::unique_ptr<StoredFileWriter> EncryptedStore::OpenWrite(const std::string& name) {
    const Keys keys = KeysOf(true);
    return SealingWriter(m_inner->OpenWrite(keys.names->ToStored(name)), keys.master, m_logicalPath + name);
}

void EncryptedStore::Remove(const std::string& name) { m_inner->Remove(KeysOf(false).names->ToStored(name)); }

std::unique_ptr<BackupStore> EncryptedStore::Below(const std::string& name) const {
    const Keys keys = KeysOf(true);
    const std::string logical = keys.names->Decrypt(name).value_or(name);
    RequirePlainName(logical);
    return std::make_unique<EncryptedStore>(std::shared_ptr<BackupStore>(m_inner->Below(keys.names->Encrypt(logical))), keys.master,
                                            m_logicalPath + logical + "/");
}

std::unique_ptr<StoreLock> EncryptedStore::TryLock(const std::string& name, const std::string& owner, std::string& holder) {
    return m_inner->TryLock(name, owner, holder);
}

}  // namespace cosmosbackup
