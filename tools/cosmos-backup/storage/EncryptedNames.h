#pragma once

#include <optional>
#include <string>

namespace cosmosbackup {

// File names of an encrypted location, encrypted deterministically and invertibly (SIV): the IV
// is HMAC-SHA256(name key, name) cut to 16 bytes, the name is AES-256-CTR-encrypted with it, and
// the stored name is IV || ciphertext in lower-case base32. The same name always gives the same
// stored name (so a file is found without a directory of names), and a stored name that was not
// made with this key is recognised as such.
class EncryptedNames {
public:
    explicit EncryptedNames(const std::string& masterKey);

    std::string Encrypt(const std::string& name) const;
    // The name, or nothing when `stored` is not a name this key encrypted.
    std::optional<std::string> Decrypt(const std::string& stored) const;

    // A name of the location as stored: lock names pass as they are; a killed writer's leftovers
    // (NAME.partial, NAME.claim-XXXXXX) keep their suffix after the encrypted NAME.
    std::string ToStored(const std::string& name) const;
    // The inverse of ToStored; nothing for a name ToStored cannot give.
    std::optional<std::string> FromStored(const std::string& stored) const;

private:
    std::string Iv(const std::string& name) const;

    std::string m_macKey;
    std::string m_cipherKey;
};

}  // namespace cosmosbackup
