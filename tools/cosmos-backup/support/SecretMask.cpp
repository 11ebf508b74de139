#include "support/SecretMask.h"

#include "support/EditDistance.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace cosmosbackup {
namespace {

constexpr std::size_t kShortestSecret = 6;

// The environment variables that hold credentials (the account key's name may be changed with
// --key-env, whose value is then taken as well).
const char* const kSecretVariables[] = {"COSMOS_KEY", "AZURE_STORAGE_KEY", "AZURE_STORAGE_SAS_TOKEN",
                                        "COSMOS_BACKUP_PASSWORD"};

// The options that name where a secret is, not the secret: their values are shown.
bool NamesSecretSource(const std::string& name) {
    return name == "--key-env" || name == "--key-file" || name == "--password-file";
}

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

bool SecretMask::NamesSecret(const std::string& option) {
    if (option.rfind("-", 0) != 0 || NamesSecretSource(option)) return false;
    const std::string name = Lowered(option.substr(option.find_first_not_of('-')));
    for (const char* word : {"key", "pass", "secret", "token", "sas", "credential"}) {
        if (name.find(word) != std::string::npos) return true;
    }
    return EditDistance(name, "key") <= 2 || EditDistance(name, "password") <= 2;
}

SecretMask SecretMask::Of(int argc, const char* const* argv) {
    SecretMask mask;
    for (const char* variable : kSecretVariables) {
        if (const char* value = std::getenv(variable)) mask.Add(value);
    }
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const auto eq = argument.find('=');
        const std::string name = argument.substr(0, eq);
        if (name == "--key-env" && i + 1 < argc) {
            if (const char* value = std::getenv(argv[i + 1])) mask.Add(value);
        }
        if (!NamesSecret(name)) continue;
        if (eq != std::string::npos) mask.Add(argument.substr(eq + 1));
        else if (i + 1 < argc) mask.Add(argv[i + 1]);
    }
    return mask;
}

void SecretMask::Add(const std::string& given) {
    // Keys are used without the white space around them, and messages quote them so.
    const auto first = given.find_first_not_of(" \t\r\n");
    const std::string secret = first == std::string::npos ? "" : given.substr(first, given.find_last_not_of(" \t\r\n") - first + 1);
    if (secret.size() < kShortestSecret) return;
    if (std::find(m_secrets.begin(), m_secrets.end(), secret) != m_secrets.end()) return;
    m_secrets.push_back(secret);
    std::sort(m_secrets.begin(), m_secrets.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
}

std::string SecretMask::Hide(std::string text) const {
    for (const auto& secret : m_secrets) {
        for (auto at = text.find(secret); at != std::string::npos; at = text.find(secret, at + std::char_traits<char>::length(kHidden))) {
            text.replace(at, secret.size(), kHidden);
        }
    }
    return text;
}

}  // namespace cosmosbackup
