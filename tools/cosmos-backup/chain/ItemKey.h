#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace cosmosbackup {

// Identifies an item within a container: its id and its partition key values, taken at the
// paths of the container's partition key definition.
class ItemKeyMaker {
public:
    explicit ItemKeyMaker(const nlohmann::json& partitionKeyDefinition);

    // A text that is equal for two items exactly when they are the same item.
    std::string KeyOf(const nlohmann::json& item) const;

private:
    std::vector<nlohmann::json::json_pointer> m_paths;
};

}  // namespace cosmosbackup
