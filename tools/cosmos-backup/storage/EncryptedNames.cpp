#include "storage/EncryptedNames.h"

#include "storage/Cipher.h"
#include "storage/Digest.h"
#include "storage/StoreLock.h"
#include "storage/UnfinishedWrites.h"

#include <cstring>

namespace cosmosbackup {
namespace {

constexpr std::size_t kIvSize = 16;

// The suffix a store adds to a file it has not finished writing ("" for any other name).
std::string UnfinishedSuffixOf(const std::string& name) {
    const std::size_t partial = std::strlen(kUnfinishedWriteSuffix), claim = std::strlen(kUnfinishedClaimSuffix) + 6;
    if (name.size() > partial && name.compare(name.size() - partial, partial, kUnfinishedWriteSuffix) == 0) return kUnfinishedWriteSuffix;
    if (name.size() > claim && name.compare(name.size() - claim, claim - 6, kUnfinishedClaimSuffix) == 0) return name.substr(name.size() - claim);
    return {};
}

}  // namespace

EncryptedNames::EncryptedNames(const std::string& masterKey)
    : m_macKey(DeriveKey(masterKey, "", "cosmos-backup name iv")), m_cipherKey(DeriveKey(masterKey, "", "cosmos-backup name")) {}

std::string EncryptedNames::Iv(const std::string& name) const { return HmacSha256(m_macKey, name).substr(0, kIvSize); }

std::string EncryptedNames::Encrypt(const std::string& name) const {
    const std::string iv = Iv(name);
    return EncodeBase32(iv + CtrCipher(m_cipherKey, iv, name));
}

std::optional<std::string> EncryptedNames::Decrypt(const std::string& stored) const {
    std::string bytes;
    if (!DecodeBase32(stored, bytes) || bytes.size() <= kIvSize) return std::nullopt;
    const std::string iv = bytes.substr(0, kIvSize);
    std::string name = CtrCipher(m_cipherKey, iv, bytes.substr(kIvSize));
    if (!ConstantTimeEqual(Iv(name), iv)) return std::nullopt;
    return name;
}

std::string EncryptedNames::ToStored(const std::string& name) const {
    if (IsLockName(name)) return name;
    const std::string suffix = UnfinishedSuffixOf(name);
    return Encrypt(name.substr(0, name.size() - suffix.size())) + suffix;
}

std::optional<std::string> EncryptedNames::FromStored(const std::string& stored) const {
    if (IsLockName(stored)) return stored;
    // The base32 alphabet has no '.': whatever follows the first one is a store's own suffix.
    const auto dot = stored.find('.');
    const std::string suffix = dot == std::string::npos ? "" : stored.substr(dot);
    if (suffix != UnfinishedSuffixOf(stored)) return std::nullopt;
    auto name = Decrypt(stored.substr(0, stored.size() - suffix.size()));
    if (!name) return std::nullopt;
    return *name + suffix;
}

}  // namespace cosmosbackup
