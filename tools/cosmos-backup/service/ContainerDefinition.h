#pragma once

#include "service/Connection.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace cosmosbackup {

// What of a backed-up container definition a container made from it lacks: every member of
// `backup` (the id aside) must be in `created` with the same value, where the service may add
// members and array elements of its own (default paths, defaults) but not drop any. Each
// entry names the missing or different property by its path ("uniqueKeyPolicy/uniqueKeys").
std::vector<std::string> LostProperties(const nlohmann::json& backup, const nlohmann::json& created);

// Whether two partition key definitions key items the same way: paths, kind and version,
// with the service's defaults ("Hash", version 1) where a member is missing.
bool SamePartitionKey(const nlohmann::json& a, const nlohmann::json& b);

// Whether database/container exists on the account now (its database included).
bool ContainerExists(Connection& connection, const std::string& database, const std::string& container);

}  // namespace cosmosbackup
