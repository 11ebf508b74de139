#include "storage/Digest.h"

#include "support/ToolError.h"

#include <openssl/hmac.h>


namespace cosmosbackup {

std::string EncodeBase64(const std::string& bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3), '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(written));
    return text;
}

bool DecodeBase64(const std::string& text, std::string& bytes) {
    if (text.size() % 4 != 0) return false;
    std::string decoded(text.size() / 4 * 3, '\0');
    const int written = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(decoded.data()),
                                        reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (written < 0) return false;
    // EVP_DecodeBlock counts the padding as zero bytes: drop them.
    std::size_t size = static_cast<std::size_t>(written);
    for (std::size_t i = text.size(); i > 0 && text[i - 1] == '='; --i) --size;
    decoded.resize(size);
    if (EncodeBase64(decoded) != text) return false;
    bytes = std::move(decoded);
    return true;
}

std::string HmacSha256(const std::string& key, const std::string& message) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(message.data()),
             message.size(), digest, &size) == nullptr) {
        throw ToolError("cannot compute a request signature");
    }
    return std::string(reinterpret_cast<const char*>(digest), size);
}

std::string Sha256Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr) != 1) throw ToolError("cannot compute SHA-256");
    static const char* hex = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < size; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

Md5::Md5() : m_context(EVP_MD_CTX_new(), EVP_MD_CTX_free) {
    if (!m_context || EVP_DigestInit_ex(m_context.get(), EVP_md5(), nullptr) != 1) throw ToolError("cannot compute MD5");
}

void Md5::Add(const char* data, std::size_t size) { EVP_DigestUpdate(m_context.get(), data, size); }

std::string Md5::FinishBase64() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(m_context.get(), digest, &size);
    return EncodeBase64(std::string(reinterpret_cast<const char*>(digest), size));
}

std::string Md5::OfBase64(const char* data, std::size_t size) {
    Md5 md5;
    md5.Add(data, size);
    return md5.FinishBase64();
}

}  // namespace cosmosbackup
