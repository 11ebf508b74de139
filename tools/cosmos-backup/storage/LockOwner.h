#pragma once

#include <string>

namespace cosmosbackup {

// Who holds a lock, for the message of a run that is refused it:
// "host H, pid P, since 2026-12-08T15:30:00Z" (the time of the call, UTC).
std::string DescribeThisProcess();

// An owner text as it may go into a message or a header: what another run wrote is input, so
// anything but printable ASCII becomes '?' and it is cut to 300 characters.
std::string PrintableOwner(std::string text);

}  // namespace cosmosbackup
