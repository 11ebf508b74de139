#pragma once

#include <string>

namespace cosmosbackup {

// Whether the host of a URL (as written in it: "127.0.0.1", "[::1]", "localhost") is this
// machine's loopback interface: an IPv4 address in 127.0.0.0/8, the IPv6 address ::1 (or an
// IPv4-mapped loopback address), or the name "localhost". Decided on the parsed address, never
// on how the text begins: "127.attacker.example" is a name like any other, and not local.
bool IsLoopbackHost(const std::string& host);

}  // namespace cosmosbackup
