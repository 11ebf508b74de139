#include "storage/BlobCredentials.h"

#include "storage/Digest.h"
#include "support/Secrets.h"
#include "support/ToolError.h"

#include <cstdlib>

namespace cosmosbackup {
namespace {

// Surrounding white space removed: a value pasted or read with `$(cat …)` often ends in a newline.
std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    const std::string text = value != nullptr ? value : "";
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// A token goes into request URLs as it is: anything but printable ASCII would make them invalid.
std::string SasToken(std::string token, const char* from) {
    if (!token.empty() && token.front() == '?') token.erase(0, 1);
    for (const unsigned char c : token) {
        if (c <= ' ' || c >= 127) throw ToolError(std::string("the SAS token in ") + from + " holds white space or other characters a token cannot have");
    }
    return token;
}

}  // namespace

BlobCredentials ReadBlobCredentials(const std::string& account) {
    BlobCredentials credentials;
    const std::string sasFile = Environment("AZURE_STORAGE_SAS_FILE");
    credentials.account = account;
    if (!sasFile.empty()) {
        credentials.sasToken = SasToken(ReadAccountKey(KeySource{"", sasFile}), "AZURE_STORAGE_SAS_FILE");
        return credentials;
    }
    credentials.sasToken = SasToken(Environment("AZURE_STORAGE_SAS_TOKEN"), "AZURE_STORAGE_SAS_TOKEN");
    if (!credentials.sasToken.empty()) return credentials;
    const std::string key = Environment("AZURE_STORAGE_KEY");
    if (key.empty()) {
        throw ToolError("no storage credentials for account " + account +
                        ": set AZURE_STORAGE_KEY, AZURE_STORAGE_SAS_TOKEN or AZURE_STORAGE_SAS_FILE");
    }
    if (!DecodeBase64(key, credentials.key) || credentials.key.empty()) {
        throw ToolError("AZURE_STORAGE_KEY is not a base64 account key");
    }
    return credentials;
}

}  // namespace cosmosbackup
