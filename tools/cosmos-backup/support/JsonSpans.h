#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cosmosbackup {

// Finds values inside a JSON text without building it: where a value ends, a member of an
// object, an element of an array. For texts that are well-formed JSON (items as the service
// wrote them); a text that is not gives std::nullopt where the scan cannot go on, never a
// read outside the text.
namespace jsonspans {

// The position just past the value that starts at `at` (after any white space), or npos.
std::size_t EndOfValue(std::string_view text, std::size_t at);

// The value of member `name` of the object `object` (its whole text), the last one of that
// name as a parser keeps it; names are compared unescaped.
std::optional<std::string_view> Member(std::string_view object, std::string_view name);

// The value at `tokens` (member names, or element indexes in arrays) below `value`, as a JSON
// pointer would find it; all of `value` for no tokens.
std::optional<std::string_view> At(std::string_view value, const std::vector<std::string>& tokens);

}  // namespace jsonspans
}  // namespace cosmosbackup
