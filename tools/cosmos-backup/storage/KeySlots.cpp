#include "storage/KeySlots.h"

#include "storage/Digest.h"
#include "support/ToolError.h"

#include <nlohmann/json.hpp>
#include <openssl/crypto.h>

#include <algorithm>
#include <regex>

namespace cosmosbackup {
namespace {

const std::string kSlotAssociatedData = "cosmos-backup key slot";

std::string ReadAll(StoredFileReader& reader) {
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = reader.Read(buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    return text;
}

std::string Base64Field(const nlohmann::json& json, const char* field) {
    std::string bytes;
    if (!DecodeBase64(json.at(field).get<std::string>(), bytes)) throw ToolError(std::string("not base64: ") + field);
    return bytes;
}

KeySlot ParseKeySlot(const std::string& id, const std::string& text, const std::string& where) {
    try {
        const auto json = nlohmann::json::parse(text);
        const auto& kdf = json.at("kdf");
        if (json.at("format").get<int>() != 1 || kdf.at("name").get<std::string>() != "scrypt" ||
            json.at("cipher").get<std::string>() != "aes-256-gcm") {
            throw ToolError("a kind of key slot this version does not know");
        }
        KeySlot slot;
        slot.id = id;
        slot.kdf.n = kdf.at("n").get<std::uint64_t>();
        slot.kdf.r = kdf.at("r").get<std::uint32_t>();
        slot.kdf.p = kdf.at("p").get<std::uint32_t>();
        slot.salt = Base64Field(kdf, "salt");
        slot.nonce = Base64Field(json, "nonce");
        slot.sealedKey = Base64Field(json, "key");
        slot.text = text;
        return slot;
    } catch (const std::exception& e) {
        throw ToolError("the key slot " + where + "/" + KeySlotName(id) + " cannot be read: " + e.what());
    }
}

}  // namespace

bool IsKeySlotName(const std::string& name) {
    static const std::regex slot("key-[0-9a-f]{8}\\.json");
    return std::regex_match(name, slot);
}

std::string KeySlotName(const std::string& id) { return "key-" + id + ".json"; }

std::vector<KeySlot> ReadKeySlots(const BackupStore& location) {
    std::vector<KeySlot> slots;
    for (const auto& file : location.List()) {
        if (!file.plain || !IsKeySlotName(file.name)) continue;
        const std::string id = file.name.substr(4, 8);
        slots.push_back(ParseKeySlot(id, ReadAll(*location.OpenRead(file.name)), location.Describe()));
    }
    return slots;
}

std::optional<std::string> StorePassword::Unlock(const KeySlot& slot) const {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto known = m_opened.find(slot.text);
        if (known != m_opened.end()) return known->second;
    }
    std::string slotKey = Scrypt(m_text, slot.salt, slot.kdf);
    std::string masterKey;
    const bool opened = OpenAead(slotKey, slot.nonce, kSlotAssociatedData, slot.sealedKey.data(), slot.sealedKey.size(), masterKey);
    OPENSSL_cleanse(&slotKey[0], slotKey.size());
    if (!opened || masterKey.size() != kAeadKeySize) return std::nullopt;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_opened[slot.text] = masterKey;
    return masterKey;
}

std::string StorePassword::Seal(const std::string& masterKey) const {
    const std::string salt = RandomBytes(16), nonce = RandomBytes(kAeadNonceSize);
    std::string slotKey = Scrypt(m_text, salt, m_kdf);
    const std::string sealed = SealAead(slotKey, nonce, kSlotAssociatedData, masterKey.data(), masterKey.size());
    OPENSSL_cleanse(&slotKey[0], slotKey.size());
    const nlohmann::json json = {
        {"format", 1},
        {"kdf", {{"name", "scrypt"}, {"n", m_kdf.n}, {"r", m_kdf.r}, {"p", m_kdf.p}, {"salt", EncodeBase64(salt)}}},
        {"cipher", "aes-256-gcm"},
        {"nonce", EncodeBase64(nonce)},
        {"key", EncodeBase64(sealed)}};
    const std::string text = json.dump(2) + "\n";
    std::lock_guard<std::mutex> lock(m_mutex);
    m_opened[text] = masterKey;
    return text;
}

std::string UnlockMasterKey(const std::vector<KeySlot>& slots, const StorePassword& password, const std::string& where, std::string* slotId) {
    for (const auto& slot : slots) {
        if (auto key = password.Unlock(slot)) {
            if (slotId != nullptr) *slotId = slot.id;
            return *key;
        }
    }
    throw ToolError("wrong password: it opens none of the " + std::to_string(slots.size()) + " key slots of " + where);
}

std::string AddKeySlot(BackupStore& location, const std::string& masterKey, const StorePassword& password, const std::string& id) {
    const std::string text = password.Seal(masterKey);
    if (!id.empty()) return location.CreateExclusive(KeySlotName(id), text) ? id : "";
    for (;;) {
        std::string random = RandomBytes(4), hex;
        for (unsigned char c : random) {
            static const char digits[] = "0123456789abcdef";
            hex += digits[c >> 4];
            hex += digits[c & 15];
        }
        if (location.CreateExclusive(KeySlotName(hex), text)) return hex;
    }
}

}  // namespace cosmosbackup
