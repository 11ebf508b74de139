#include "chain/ItemKey.h"

#include "support/ToolError.h"

#include <algorithm>

namespace cosmosbackup {

namespace {

// "/address/city" names item["address"]["city"]; a segment may be quoted ("/\"a b\"", for names
// with spaces or other characters), and its quotes are not part of the name. The pointer is built
// from unescaped tokens, so "~" and the like in a name are matched as they stand.
nlohmann::json::json_pointer PointerOf(const std::string& path) {
    nlohmann::json::json_pointer pointer;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto end = std::min(path.find('/', start), path.size());
        std::string segment = path.substr(start, end - start);
        if (segment.size() >= 2 && segment.front() == '"' && segment.back() == '"') segment = segment.substr(1, segment.size() - 2);
        if (end > start) pointer /= segment;
        start = end + 1;
    }
    return pointer;
}

}  // namespace

ItemKeyMaker::ItemKeyMaker(const nlohmann::json& partitionKeyDefinition) {
    const auto paths = partitionKeyDefinition.find("paths");
    if (paths == partitionKeyDefinition.end() || !paths->is_array()) return;
    for (const auto& path : *paths) {
        if (!path.is_string()) throw ToolError("partition key path " + path.dump() + " is not a text");
        m_paths.push_back(PointerOf(path.get<std::string>()));
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
