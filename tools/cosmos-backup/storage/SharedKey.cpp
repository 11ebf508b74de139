#include "storage/SharedKey.h"

#include "storage/Digest.h"

namespace cosmosbackup {
namespace {

std::string Header(const StorageRequest& request, const std::string& name) {
    const auto found = request.headers.find(name);
    return found == request.headers.end() ? "" : found->second;
}

}  // namespace

std::string SharedKeyStringToSign(const std::string& account, const StorageRequest& request) {
    std::string text = request.method + "\n";
    for (const char* name : {"content-encoding", "content-language"}) text += Header(request, name) + "\n";
    text += (request.contentLength == 0 ? "" : std::to_string(request.contentLength)) + "\n";
    for (const char* name : {"content-md5", "content-type", "date", "if-modified-since", "if-match", "if-none-match",
                             "if-unmodified-since", "range"}) {
        text += Header(request, name) + "\n";
    }
    // std::map keeps the x-ms- headers sorted by name, as the canonical form wants them.
    for (const auto& [name, value] : request.headers) {
        if (name.rfind("x-ms-", 0) == 0) text += name + ":" + value + "\n";
    }
    text += "/" + account + request.path;
    for (const auto& [name, value] : request.query) text += "\n" + name + ":" + value;
    return text;
}

std::string SharedKeyAuthorization(const std::string& account, const std::string& key, const StorageRequest& request) {
    return "SharedKey " + account + ":" + EncodeBase64(HmacSha256(key, SharedKeyStringToSign(account, request)));
}

}  // namespace cosmosbackup
