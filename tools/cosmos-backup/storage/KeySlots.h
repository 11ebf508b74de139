#pragma once

#include "storage/BackupStore.h"
#include "storage/Cipher.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace cosmosbackup {

// A password's copy of an encrypted location's master key: the file key-<8 hex>.json at the
// location's root, a small JSON document
//   {"format": 1, "kdf": {"name": "scrypt", "n": N, "r": R, "p": P, "salt": BASE64},
//    "cipher": "aes-256-gcm", "nonce": BASE64, "key": BASE64}
// where "key" is the master key sealed under scrypt(password, salt). A location is encrypted when
// it holds at least one slot; any of them opens it.
struct KeySlot {
    std::string id;  // 8 hex digits
    ScryptParameters kdf;
    std::string salt, nonce, sealedKey;
    std::string text;  // the file as stored
};

// What opening an encrypted location without a password says.
inline constexpr const char* kPasswordNeeded =
    "this backup is encrypted: give --password-file, COSMOS_BACKUP_PASSWORD_FILE or COSMOS_BACKUP_PASSWORD";

bool IsKeySlotName(const std::string& name);
std::string KeySlotName(const std::string& id);

// The slots of a location (an unencrypted view of it), in id order.
std::vector<KeySlot> ReadKeySlots(const BackupStore& location);

// The password a run was given, with the master keys it opened: a command opens many locations
// of one chain or account, and each slot's key derivation takes a good part of a second.
class StorePassword {
public:
    explicit StorePassword(std::string text, ScryptParameters kdf = {}) : m_text(std::move(text)), m_kdf(kdf) {}
    StorePassword(const StorePassword&) = delete;
    StorePassword& operator=(const StorePassword&) = delete;

    // The master key `slot` holds for this password; nothing when the password is not the slot's.
    std::optional<std::string> Unlock(const KeySlot& slot) const;
    // The text of a new slot for this password holding `masterKey`.
    std::string Seal(const std::string& masterKey) const;

private:
    std::string m_text;
    ScryptParameters m_kdf;  // for new slots
    mutable std::mutex m_mutex;
    mutable std::map<std::string, std::string> m_opened;  // slot text -> master key
};

// The master key of a location holding `slots`, from the first slot the password opens; sets
// `slotId` to it. Throws ToolError "wrong password" when none does.
std::string UnlockMasterKey(const std::vector<KeySlot>& slots, const StorePassword& password, const std::string& where, std::string* slotId = nullptr);

// Adds a slot holding `masterKey` for `password`, under `id` or a new random id (""). Returns the
// id, or "" when `id` was given and a slot of that id exists.
std::string AddKeySlot(BackupStore& location, const std::string& masterKey, const StorePassword& password, const std::string& id = "");

}  // namespace cosmosbackup
