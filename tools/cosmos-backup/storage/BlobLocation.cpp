#include "storage/BlobLocation.h"

#include "storage/LoopbackHost.h"
#include "support/ToolError.h"

#include <cctype>
#include <cstdlib>
#include <vector>

namespace cosmosbackup {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const auto end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One segment of the prefix, percent-decoded once ("%2520" stays "%20"). A '%' that starts no
// escape, and escapes that would put a separator or NUL into the name, are refused.
std::string DecodeSegment(const std::string& segment, const std::string& url) {
    std::string decoded;
    for (std::size_t i = 0; i < segment.size(); ++i) {
        if (segment[i] != '%') {
            decoded += segment[i];
            continue;
        }
        const int high = i + 2 < segment.size() ? HexValue(segment[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(segment[i + 2]) : -1;
        if (low < 0) throw ToolError("the storage URL " + url + " has a '%' that starts no escape (write it as %25)");
        const char c = static_cast<char>(high * 16 + low);
        if (c == '/' || c == '\\' || c == '\0') throw ToolError("the storage URL " + url + " encodes a separator in its prefix");
        decoded += c;
        i += 2;
    }
    return decoded;
}

// Container names: 3-63 lower-case letters, digits and single hyphens.
bool IsContainerName(const std::string& name) {
    if (name.size() < 3 || name.size() > 63 || name.front() == '-' || name.back() == '-') return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (!(std::islower(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) || c == '-')) return false;
        if (c == '-' && name[i - 1] == '-') return false;
    }
    return true;
}

}  // namespace

std::string PercentEncode(const std::string& text, bool keepSlashes) {
    static const char* hex = "0123456789ABCDEF";
    std::string encoded;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' || (keepSlashes && c == '/')) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += hex[c >> 4];
            encoded += hex[c & 15];
        }
    }
    return encoded;
}

std::string BlobLocation::ContainerPath() const {
    return EncodePath((pathStyle ? "/" + account : std::string()) + "/" + container);
}

std::string BlobLocation::PathOf(const std::string& name) const {
    return ContainerPath() + "/" + EncodePath(prefix + name);
}

BlobLocation ParseBlobLocation(const std::string& url) {
    BlobLocation location;
    location.url = url;
    const auto schemeEnd = url.find("://");
    const std::string scheme = url.substr(0, schemeEnd);
    const auto pathStart = url.find('/', schemeEnd + 3);
    const std::string authority = url.substr(schemeEnd + 3, pathStart == std::string::npos ? std::string::npos : pathStart - schemeEnd - 3);
    const std::string path = pathStart == std::string::npos ? "" : url.substr(pathStart + 1);
    if (url.find_first_of("?#") != std::string::npos) {
        throw ToolError("the storage URL " + url.substr(0, url.find_first_of("?#")) +
                        " carries a query; give a SAS token in AZURE_STORAGE_SAS_TOKEN or a file, never on the command line");
    }
    if (authority.find('@') != std::string::npos) throw ToolError("the storage URL must not carry user information");
    const std::string host = authority.substr(0, authority.rfind(':') == std::string::npos || authority.back() == ']'
                                                     ? std::string::npos : authority.rfind(':'));
    if (host.empty()) throw ToolError("the storage URL " + url + " names no host");
    location.loopback = IsLoopbackHost(host);
    if (scheme != "http" && scheme != "https") throw ToolError("the storage URL " + url + " must use https");
    if (scheme == "http" && !location.loopback) throw ToolError("the storage URL " + url + " must use https");
    location.endpoint = scheme + "://" + authority;

    auto segments = Split(path, '/');
    const auto labels = Split(host, '.');
    const char* accountVariable = std::getenv("AZURE_STORAGE_ACCOUNT");
    std::string accountFromEnvironment = accountVariable != nullptr ? accountVariable : "";
    accountFromEnvironment.erase(0, accountFromEnvironment.find_first_not_of(" \t\r\n"));
    accountFromEnvironment.erase(accountFromEnvironment.find_last_not_of(" \t\r\n") + 1);
    if (labels.size() > 2 && labels[1] == "blob") {
        location.account = labels[0];
        if (!accountFromEnvironment.empty() && accountFromEnvironment != location.account) {
            throw ToolError("AZURE_STORAGE_ACCOUNT names " + accountFromEnvironment + " but the storage URL names " + location.account);
        }
    } else if (!accountFromEnvironment.empty() && !location.loopback) {
        location.account = accountFromEnvironment;  // a custom domain or private endpoint
    } else {
        location.pathStyle = true;
        location.account = segments.front();
        segments.erase(segments.begin());
    }
    if (location.account.empty()) throw ToolError("the storage URL " + url + " names no account");
    if (segments.empty() || !IsContainerName(segments.front())) {
        throw ToolError("the storage URL " + url + " names no valid container (3-63 lower-case letters, digits, hyphens)");
    }
    location.container = segments.front();
    for (std::size_t i = 1; i < segments.size(); ++i) {
        if (segments[i].empty()) continue;  // tolerate doubled and trailing slashes
        const std::string segment = DecodeSegment(segments[i], url);
        if (segment == "." || segment == "..") throw ToolError("the storage URL " + url + " has a relative segment");
        location.prefix += segment + "/";
    }
    return location;
}

}  // namespace cosmosbackup
