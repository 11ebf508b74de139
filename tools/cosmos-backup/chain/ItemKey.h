#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace cosmosbackup {

// Identifies an item within a container: its id and its partition key values, taken at the
// paths of the container's partition key definition.
class ItemKeyMaker {
public:
    explicit ItemKeyMaker(const nlohmann::json& partitionKeyDefinition);

    // A text that is equal for two items exactly when they are the same item.
    std::string KeyOf(const nlohmann::json& item) const;
    // The same from the item's JSON text (an object, well-formed), parsing only the values
    // of the key; throws ToolError for a text that is not an object.
    std::string KeyOfText(std::string_view item) const;

private:
    std::vector<nlohmann::json::json_pointer> m_paths;
    std::vector<std::vector<std::string>> m_tokens;  // of each path, unescaped
};

}  // namespace cosmosbackup
