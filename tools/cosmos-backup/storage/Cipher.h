#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cosmosbackup {

// The few primitives an encrypted location is built from, all through OpenSSL's EVP. Keys and
// outputs are byte strings. Every function throws ToolError when OpenSSL refuses; an AEAD open
// whose tag does not match returns false instead, so that callers say which file was changed.
inline constexpr std::size_t kAeadKeySize = 32;   // AES-256
inline constexpr std::size_t kAeadNonceSize = 12; // GCM's natural nonce
inline constexpr std::size_t kAeadTagSize = 16;

std::string RandomBytes(std::size_t size);
// HKDF-SHA256 of `key` with `salt` and `info`, `size` bytes long.
std::string DeriveKey(const std::string& key, const std::string& salt, const std::string& info, std::size_t size = kAeadKeySize);
// AES-256-GCM: ciphertext followed by its tag.
std::string SealAead(const std::string& key, const std::string& nonce, const std::string& associated, const char* plain, std::size_t size);
// Opens what SealAead sealed into `plain`; false when the tag does not match.
bool OpenAead(const std::string& key, const std::string& nonce, const std::string& associated, const char* sealed, std::size_t size,
              std::string& plain);
// AES-256-CTR with a 16-byte initial counter block (its own inverse).
std::string CtrCipher(const std::string& key, const std::string& iv, const std::string& data);

// scrypt through EVP_KDF.
struct ScryptParameters {
    std::uint64_t n = 1 << 17;  // 128 MiB with r = 8: about 0.4 s on a current core
    std::uint32_t r = 8;
    std::uint32_t p = 1;
};
std::string Scrypt(const std::string& password, const std::string& salt, const ScryptParameters& parameters, std::size_t size = kAeadKeySize);

// RFC 4648 base32 in lower case without padding (file names of case-insensitive storage too).
std::string EncodeBase32(const std::string& bytes);
// False when `text` holds anything but that alphabet or is no whole encoding.
bool DecodeBase32(const std::string& text, std::string& bytes);

// True when both strings are equal, in time that does not depend on where they differ.
bool ConstantTimeEqual(const std::string& a, const std::string& b);

}  // namespace cosmosbackup
