#pragma once

#include "service/Connection.h"

#include <cstdint>
#include <string>

namespace cosmosbackup {

// Items a restore could not write after every retry: the wrapper lists them (id, partition
// key, status, reason); they go to a JSON Lines file in the current directory, named after
// the target and the time, owner-only. Returns the number of items listed and sets `path`
// (left empty when there were none).
std::int64_t WriteFailureReport(Connection& connection, const std::string& target, std::string& path);

}  // namespace cosmosbackup
