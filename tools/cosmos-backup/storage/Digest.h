#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <memory>
#include <string>

namespace cosmosbackup {

std::string EncodeBase64(const std::string& bytes);
// False when `text` is not canonical padded base64.
bool DecodeBase64(const std::string& text, std::string& bytes);

std::string HmacSha256(const std::string& key, const std::string& message);
// SHA-256 as 64 lower-case hex digits.
std::string Sha256Hex(const std::string& bytes);

// An MD5 digest computed piece by piece, as the storage service states it (base64).
class Md5 {
public:
    Md5();
    void Add(const char* data, std::size_t size);
    // The digest of everything added, base64; ends the computation.
    std::string FinishBase64();
    static std::string OfBase64(const char* data, std::size_t size);

private:
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> m_context;
};

}  // namespace cosmosbackup
