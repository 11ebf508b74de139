#pragma once

#include "chain/KeySet.h"
#include "service/Connection.h"

#include <cstdint>
#include <string>

namespace cosmosbackup {

// Deletes the items with these keys from `target` ("database/container", open on
// `connection`), `parallelism` requests in flight; keys already gone count as deleted. Returns
// how many keys were sent. `what` names them in an error ("the items ... lists as deleted").
std::int64_t DeleteKeys(Connection& connection, const KeySet& keys, const std::string& target, int parallelism, const std::string& what);

}  // namespace cosmosbackup
