#pragma once

#include <string>

namespace cosmosbackup {

// How requests to a storage account are authorised: a shared key (the decoded account key)
// or a SAS token (the query text, without a leading '?'). Neither is ever printed.
struct BlobCredentials {
    std::string account;
    std::string key;
    std::string sasToken;
};

// Reads the credentials from the environment only, never from the command line: a SAS token
// from the owner-only file named by AZURE_STORAGE_SAS_FILE, else from AZURE_STORAGE_SAS_TOKEN,
// else the account key from AZURE_STORAGE_KEY. Throws ToolError naming where it looked, never
// a value.
BlobCredentials ReadBlobCredentials(const std::string& account);

}  // namespace cosmosbackup
