#include "storage/BlobCredentials.h"

#include "storage/Digest.h"
#include "support/Secrets.h"
#include "support/ToolError.h"

#include <cstdlib>

namespace cosmosbackup {
namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string WithoutQuestionMark(std::string token) {
    if (!token.empty() && token.front() == '?') token.erase(0, 1);
    return token;
}

}  // namespace

BlobCredentials ReadBlobCredentials(const std::string& account) {
    BlobCredentials credentials;
    const std::string sasFile = Environment("AZURE_STORAGE_SAS_FILE");
    credentials.account = account;
    if (!sasFile.empty()) {
        credentials.sasToken = WithoutQuestionMark(ReadAccountKey(KeySource{"", sasFile}));
        return credentials;
    }
    credentials.sasToken = WithoutQuestionMark(Environment("AZURE_STORAGE_SAS_TOKEN"));
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
