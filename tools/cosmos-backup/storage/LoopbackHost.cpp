#include "storage/LoopbackHost.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>

namespace cosmosbackup {

bool IsLoopbackHost(const std::string& host) {
    std::string lower = host;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower == "localhost") return true;
    in_addr v4{};
    // inet_pton takes only the dotted-quad form: no "127.1", no octal, no trailing text.
    if (inet_pton(AF_INET, lower.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    if (lower.size() < 2 || lower.front() != '[' || lower.back() != ']') return false;
    in6_addr v6{};
    if (inet_pton(AF_INET6, lower.substr(1, lower.size() - 2).c_str(), &v6) != 1) return false;
    if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
    return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
}

}  // namespace cosmosbackup
