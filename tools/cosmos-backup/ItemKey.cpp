#include "ItemKey.h"

#include "ToolError.h"

namespace cosmosbackup {

ItemKeyMaker::ItemKeyMaker(const nlohmann::json& partitionKeyDefinition) {
    const auto paths = partitionKeyDefinition.find("paths");
    if (paths == partitionKeyDefinition.end() || !paths->is_array()) return;
    for (const auto& path : *paths) {
        try {
            // A partition key path such as "/address/city" reads as a JSON pointer.
            m_paths.emplace_back(path.get<std::string>());
        } catch (const nlohmann::json::exception& e) {
            throw ToolError("partition key path " + path.dump() + " is not usable: " + e.what());
        }
    }
}

std::string ItemKeyMaker::KeyOf(const nlohmann::json& item) const {
    nlohmann::json key = nlohmann::json::array();
    key.push_back(item.value("id", nlohmann::json()));
    for (const auto& path : m_paths) {
        key.push_back(item.contains(path) ? item.at(path) : nlohmann::json::object());
    }
    return key.dump();
}

}  // namespace cosmosbackup
