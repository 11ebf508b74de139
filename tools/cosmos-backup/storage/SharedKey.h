#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace cosmosbackup {

// What a shared key signature covers of a storage request.
struct StorageRequest {
    std::string method;                          // "GET", "PUT", ...
    std::string path;                            // percent-encoded, as sent
    std::map<std::string, std::string> query;    // decoded names (lower case) and values
    std::map<std::string, std::string> headers;  // lower-case names; x-ms-date among them
    std::uint64_t contentLength = 0;
};

// The string the service signs for the Blob service's Shared Key scheme (version 2009-09-19
// and later; a zero Content-Length is signed as empty, as from version 2015-02-21).
std::string SharedKeyStringToSign(const std::string& account, const StorageRequest& request);

// The Authorization header's value: "SharedKey ACCOUNT:base64(HMAC-SHA256(key, string))".
std::string SharedKeyAuthorization(const std::string& account, const std::string& key, const StorageRequest& request);

}  // namespace cosmosbackup
