#pragma once

#include <string>
#include <vector>

namespace cosmosbackup {

// Texts that must never be printed: the secrets in use (the account key, the storage key or SAS
// token, from their environment variables) and every command-line value that follows an option
// spelt like a secret's (--key, --kye, --account-key=..., --password, --sas-token, ...), whether
// or not the tool knows that option. Everything the tool prints about its command line or a
// failure passes through Hide() first, so that a key pasted into the wrong place does not end up
// in a terminal's scroll-back or a CI log.
class SecretMask {
public:
    static constexpr const char* kHidden = "<hidden>";

    // The secrets of this process's environment and command line.
    static SecretMask Of(int argc, const char* const* argv);

    // `secret` is hidden from now on (texts shorter than 6 characters are not taken: hiding
    // them would blank out ordinary words and numbers, and no credential is that short).
    void Add(const std::string& secret);
    // `text` with every occurrence of a secret replaced by kHidden.
    std::string Hide(std::string text) const;

    // True for an option name (with its leading dashes) that is, or is a near miss of, one that
    // carries a secret.
    static bool NamesSecret(const std::string& option);

private:
    std::vector<std::string> m_secrets;  // longest first, so that a secret inside another is not half hidden
};

}  // namespace cosmosbackup
