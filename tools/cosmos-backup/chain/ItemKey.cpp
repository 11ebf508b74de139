#include "chain/ItemKey.h"

#include "support/JsonSpans.h"
#include "support/ToolError.h"

#include <algorithm>

namespace cosmosbackup {

namespace {

// "/address/city" names item["address"]["city"]; a segment may be quoted ("/\"a b\"", for names
// with spaces or other characters), and its quotes are not part of the name. The pointer is built
// from unescaped tokens, so "~" and the like in a name are matched as they stand.
std::vector<std::string> TokensOf(const std::string& path) {
    std::vector<std::string> tokens;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto end = std::min(path.find('/', start), path.size());
        std::string segment = path.substr(start, end - start);
        if (segment.size() >= 2 && segment.front() == '"' && segment.back() == '"') segment = segment.substr(1, segment.size() - 2);
        if (end > start) tokens.push_back(segment);
        start = end + 1;
    }
    return tokens;
}

nlohmann::json::json_pointer PointerOf(const std::vector<std::string>& tokens) {
    nlohmann::json::json_pointer pointer;
    for (const auto& token : tokens) pointer /= token;
    return pointer;
}

nlohmann::json ValueOf(std::string_view text) {
    auto value = nlohmann::json::parse(text, nullptr, false);
    if (value.is_discarded()) throw ToolError("a key value of an item is not JSON: " + std::string(text.substr(0, 200)));
    return value;
}

}  // namespace

ItemKeyMaker::ItemKeyMaker(const nlohmann::json& partitionKeyDefinition) {
    const auto paths = partitionKeyDefinition.find("paths");
    if (paths == partitionKeyDefinition.end() || !paths->is_array()) return;
    for (const auto& path : *paths) {
        if (!path.is_string()) throw ToolError("partition key path " + path.dump() + " is not a text");
        m_tokens.push_back(TokensOf(path.get<std::string>()));
        m_paths.push_back(PointerOf(m_tokens.back()));
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

std::string ItemKeyMaker::KeyOfText(std::string_view item) const {
    const auto start = item.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos || item[start] != '{') throw ToolError("the service answered an item that is not a JSON object");
    nlohmann::json key = nlohmann::json::array();
    const auto id = jsonspans::Member(item, "id");
    key.push_back(id ? ValueOf(*id) : nlohmann::json());
    for (const auto& tokens : m_tokens) {
        const auto value = jsonspans::At(item, tokens);
        key.push_back(value ? ValueOf(*value) : nlohmann::json::object());
    }
    return key.dump();
}

}  // namespace cosmosbackup
