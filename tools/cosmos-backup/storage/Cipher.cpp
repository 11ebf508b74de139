#include "storage/Cipher.h"

#include "support/ToolError.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <climits>
#include <memory>

namespace cosmosbackup {
namespace {

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;
using KdfContext = std::unique_ptr<EVP_KDF_CTX, decltype(&EVP_KDF_CTX_free)>;

void Require(bool ok, const char* what) {
    if (!ok) throw ToolError(std::string("encryption failed: ") + what);
}

CipherContext NewCipher() {
    CipherContext context(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    Require(context != nullptr, "no cipher context");
    return context;
}

unsigned char* Bytes(std::string& s) { return reinterpret_cast<unsigned char*>(&s[0]); }
const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }
const unsigned char* Bytes(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

int Length(std::size_t size) {
    Require(size <= static_cast<std::size_t>(INT_MAX), "piece too large");
    return static_cast<int>(size);
}

KdfContext NewKdf(const char* name) {
    std::unique_ptr<EVP_KDF, decltype(&EVP_KDF_free)> kdf(EVP_KDF_fetch(nullptr, name, nullptr), &EVP_KDF_free);
    Require(kdf != nullptr, name);
    KdfContext context(EVP_KDF_CTX_new(kdf.get()), &EVP_KDF_CTX_free);
    Require(context != nullptr, name);
    return context;
}

// Starts an AES-256-GCM computation with `key`, `nonce` and the additional data.
CipherContext StartGcm(bool encrypt, const std::string& key, const std::string& nonce, const std::string& associated) {
    Require(key.size() == kAeadKeySize && nonce.size() == kAeadNonceSize, "bad key or nonce size");
    auto context = NewCipher();
    Require(EVP_CipherInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, Bytes(key), Bytes(nonce), encrypt ? 1 : 0) == 1, "GCM init");
    int ignored = 0;
    if (!associated.empty()) {
        Require(EVP_CipherUpdate(context.get(), nullptr, &ignored, Bytes(associated), Length(associated.size())) == 1, "GCM data");
    }
    return context;
}

}  // namespace

std::string RandomBytes(std::size_t size) {
    std::string bytes(size, '\0');
    Require(size == 0 || RAND_bytes(Bytes(bytes), Length(size)) == 1, "no random bytes");
    return bytes;
}

std::string DeriveKey(const std::string& key, const std::string& salt, const std::string& info, std::size_t size) {
    auto context = NewKdf("HKDF");
    const OSSL_PARAM parameters[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>("SHA256"), 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<char*>(key.data()), key.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<char*>(salt.data()), salt.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, const_cast<char*>(info.data()), info.size()),
        OSSL_PARAM_construct_end()};
    std::string derived(size, '\0');
    Require(EVP_KDF_derive(context.get(), Bytes(derived), size, parameters) == 1, "HKDF");
    return derived;
}

std::string SealAead(const std::string& key, const std::string& nonce, const std::string& associated, const char* plain, std::size_t size) {
    auto context = StartGcm(true, key, nonce, associated);
    std::string sealed(size + kAeadTagSize, '\0');
    int written = 0, last = 0;
    if (size > 0) Require(EVP_EncryptUpdate(context.get(), Bytes(sealed), &written, Bytes(plain), Length(size)) == 1, "GCM seal");
    Require(EVP_EncryptFinal_ex(context.get(), Bytes(sealed) + written, &last) == 1, "GCM final");
    Require(EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, kAeadTagSize, Bytes(sealed) + size) == 1, "GCM tag");
    return sealed;
}

bool OpenAead(const std::string& key, const std::string& nonce, const std::string& associated, const char* sealed, std::size_t size,
              std::string& plain) {
    if (size < kAeadTagSize) return false;
    const std::size_t body = size - kAeadTagSize;
    auto context = StartGcm(false, key, nonce, associated);
    plain.resize(body);
    int written = 0, last = 0;
    if (body > 0) Require(EVP_DecryptUpdate(context.get(), Bytes(plain), &written, Bytes(sealed), Length(body)) == 1, "GCM open");
    std::string tag(sealed + body, kAeadTagSize);
    Require(EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, kAeadTagSize, Bytes(tag)) == 1, "GCM tag");
    if (EVP_DecryptFinal_ex(context.get(), Bytes(plain) + written, &last) == 1) return true;
    OPENSSL_cleanse(Bytes(plain), plain.size());
    plain.clear();
    return false;
}

std::string CtrCipher(const std::string& key, const std::string& iv, const std::string& data) {
    Require(key.size() == kAeadKeySize && iv.size() == 16, "bad key or IV size");
    auto context = NewCipher();
    Require(EVP_EncryptInit_ex(context.get(), EVP_aes_256_ctr(), nullptr, Bytes(key), Bytes(iv)) == 1, "CTR init");
    std::string out(data.size(), '\0');
    int written = 0, last = 0;
    if (!data.empty()) Require(EVP_EncryptUpdate(context.get(), Bytes(out), &written, Bytes(data), Length(data.size())) == 1, "CTR");
    Require(EVP_EncryptFinal_ex(context.get(), Bytes(out) + written, &last) == 1, "CTR final");
    return out;
}

std::string Scrypt(const std::string& password, const std::string& salt, const ScryptParameters& parameters, std::size_t size) {
    auto context = NewKdf("SCRYPT");
    std::uint64_t n = parameters.n;
    std::uint32_t r = parameters.r, p = parameters.p;
    std::uint64_t maxMemory = 2ULL << 30;  // parameters come from a key slot: 2 GiB at most
    const OSSL_PARAM settings[] = {
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD, const_cast<char*>(password.data()), password.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<char*>(salt.data()), salt.size()),
        OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_N, &n),
        OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_R, &r),
        OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_P, &p),
        OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_MAXMEM, &maxMemory),
        OSSL_PARAM_construct_end()};
    std::string derived(size, '\0');
    Require(EVP_KDF_derive(context.get(), Bytes(derived), size, settings) == 1, "scrypt (parameters out of range?)");
    return derived;
}

namespace {
constexpr char kBase32[] = "abcdefghijklmnopqrstuvwxyz234567";
}

std::string EncodeBase32(const std::string& bytes) {
    std::string text;
    unsigned buffer = 0;
    int bits = 0;
    for (unsigned char byte : bytes) {
        buffer = (buffer << 8) | byte;
        bits += 8;
        while (bits >= 5) {
            text += kBase32[(buffer >> (bits - 5)) & 31];
            bits -= 5;
        }
    }
    if (bits > 0) text += kBase32[(buffer << (5 - bits)) & 31];
    return text;
}

bool DecodeBase32(const std::string& text, std::string& bytes) {
    bytes.clear();
    unsigned buffer = 0;
    int bits = 0;
    for (char c : text) {
        int value = -1;
        if (c >= 'a' && c <= 'z') value = c - 'a';
        else if (c >= '2' && c <= '7') value = c - '2' + 26;
        if (value < 0) return false;
        buffer = (buffer << 5) | static_cast<unsigned>(value);
        bits += 5;
        if (bits >= 8) {
            bytes += static_cast<char>((buffer >> (bits - 8)) & 0xff);
            bits -= 8;
        }
    }
    // What is left must be padding bits only: fewer than 5, all zero (canonical).
    return bits < 5 && (buffer & ((1u << bits) - 1)) == 0;
}

bool ConstantTimeEqual(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace cosmosbackup
