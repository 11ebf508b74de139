#include "storage/BlobRefusal.h"

#include <libxml/parser.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <memory>

namespace cosmosbackup {
namespace {

// The text of the first element named `name` below the root of an error answer.
std::string ErrorField(const std::string& body, const char* name) {
    if (body.empty()) return {};
    std::unique_ptr<xmlDoc, void (*)(xmlDoc*)> document(
        xmlReadMemory(body.data(), static_cast<int>(body.size()), nullptr, nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
        xmlFreeDoc);
    const xmlNode* root = document ? xmlDocGetRootElement(document.get()) : nullptr;
    for (const xmlNode* node = root ? root->children : nullptr; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE || xmlStrcmp(node->name, BAD_CAST name) != 0) continue;
        std::unique_ptr<xmlChar, void (*)(void*)> text(xmlNodeGetContent(node), xmlFree);
        std::string value = text ? reinterpret_cast<const char*>(text.get()) : "";
        std::replace_if(value.begin(), value.end(), [](unsigned char c) { return c < ' '; }, ' ');
        return value.substr(0, 300);
    }
    return {};
}

bool Contains(std::string text, const std::string& lowerNeedle) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text.find(lowerNeedle) != std::string::npos;
}

// A SAS token's parameter, as it stands in the token ("" when absent).
std::string SasParameter(const std::string& token, const std::string& name) {
    std::size_t start = 0;
    while (start <= token.size()) {
        const auto end = std::min(token.find('&', start), token.size());
        const std::string pair = token.substr(start, end - start);
        if (pair.rfind(name + "=", 0) == 0) {
            std::string value = pair.substr(name.size() + 1);
            for (std::size_t at; (at = value.find("%3A")) != std::string::npos || (at = value.find("%3a")) != std::string::npos;) {
                value.replace(at, 3, ":");
            }
            return value;
        }
        start = end + 1;
    }
    return {};
}

// Seconds since the epoch of an ISO 8601 UTC time as SAS tokens carry them (with or without the
// time of day); -1 when it is none.
long long ParseSasTime(const std::string& text) {
    std::tm tm{};
    const char* end = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &tm);
    if (end == nullptr) {
        tm = std::tm{};
        end = strptime(text.c_str(), "%Y-%m-%d", &tm);
    }
    return end == nullptr ? -1 : static_cast<long long>(timegm(&tm));
}

// What is wrong with the SAS token's validity period on this machine's clock, or "".
std::string SasValidityProblem(const BlobCredentials& credentials) {
    if (credentials.sasToken.empty()) return {};
    const long long now = static_cast<long long>(std::time(nullptr));
    const std::string expiry = SasParameter(credentials.sasToken, "se");
    const long long expires = ParseSasTime(expiry);
    if (expires >= 0 && expires <= now) return "the SAS token expired at " + expiry + "; make a new one";
    const std::string start = SasParameter(credentials.sasToken, "st");
    const long long starts = ParseSasTime(start);
    if (starts > now) return "the SAS token is valid only from " + start + "; check this machine's clock or the token";
    return {};
}

std::string DescribeAuthenticationFailure(const std::string& detail, const BlobCredentials& credentials) {
    if (Contains(detail, "request date header") || Contains(detail, "x-ms-date")) {
        return "the service refused the request's time (" + detail + "): this machine's clock is off; set it right (the service allows 15 minutes)";
    }
    if (Contains(detail, "time frame") || Contains(detail, "expir")) {
        const std::string problem = SasValidityProblem(credentials);
        return (problem.empty() ? "the SAS token is outside its validity period" : problem) + " (" + detail + ")";
    }
    const std::string problem = SasValidityProblem(credentials);
    if (!problem.empty()) return problem;
    // Other details quote the request's signature or the string it signed: not repeated here.
    return credentials.sasToken.empty() ? "the signature does not match; check AZURE_STORAGE_KEY"
                                        : "the SAS token's signature does not match; check the token";
}

}  // namespace

std::string ErrorCodeOf(const HttpResponse& response) {
    const auto found = response.headers.find("x-ms-error-code");
    return found != response.headers.end() ? found->second : ErrorField(response.body, "Code");
}

std::string DescribeRefusal(const HttpResponse& response, const BlobLocation& location, const BlobCredentials& credentials) {
    const std::string code = ErrorCodeOf(response);
    const std::string where = "storage account " + location.account + ", container " + location.container;
    const std::string status = "HTTP " + std::to_string(response.status) + (code.empty() ? "" : " " + code);
    if (code == "ContainerNotFound") {
        return "the container " + location.container + " does not exist in storage account " + location.account;
    }
    if (code == "AuthenticationFailed") {
        return where + " refused the credentials (" + status + "): " +
               DescribeAuthenticationFailure(ErrorField(response.body, "AuthenticationErrorDetail"), credentials);
    }
    if (code == "AuthorizationPermissionMismatch" || code == "AuthorizationResourceTypeMismatch" ||
        code == "AuthorizationServiceMismatch") {
        return where + " refused the request (" + status + "): the credentials lack a permission it needs; a SAS token "
               "needs read, write, delete and list on blobs (service b, resource types c and o)";
    }
    if (code == "BlobImmutableDueToPolicy" || code == "ContainerImmutableStorageWithVersioningEnabled") {
        return where + " refused the request (" + status + "): the container has an immutability (WORM) policy or legal "
               "hold; backups need a container without one";
    }
    if (response.status == 403) {
        const std::string problem = SasValidityProblem(credentials);
        return where + " refused the credentials (" + status + ")" +
               (problem.empty() ? "; check AZURE_STORAGE_KEY or the SAS token (its permissions, allowed IP addresses and protocol)"
                                : ": " + problem);
    }
    return where + ": " + status;
}

}  // namespace cosmosbackup
