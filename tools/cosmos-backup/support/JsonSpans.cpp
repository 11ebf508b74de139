#include "support/JsonSpans.h"

#include <nlohmann/json.hpp>

namespace cosmosbackup::jsonspans {
namespace {

constexpr auto npos = std::string_view::npos;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::size_t SkipSpace(std::string_view t, std::size_t i) {
    while (i < t.size() && IsSpace(t[i])) ++i;
    return i;
}

// Just past the closing quote of the string that starts at `i`.
std::size_t EndOfString(std::string_view t, std::size_t i) {
    for (std::size_t j = i + 1; j < t.size(); ++j) {
        if (t[j] == '\\') ++j;
        else if (t[j] == '"') return j + 1;
    }
    return npos;
}

std::size_t EndOfContainer(std::string_view t, std::size_t i) {
    int depth = 0;
    for (std::size_t j = i; j < t.size(); ++j) {
        const char c = t[j];
        if (c == '"') {
            j = EndOfString(t, j);
            if (j == npos) return npos;
            --j;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if ((c == '}' || c == ']') && --depth == 0) {
            return j + 1;
        }
    }
    return npos;
}

// A quoted name as its text: most names hold no escape and are compared as they stand.
bool NameEquals(std::string_view quoted, std::string_view name) {
    const auto inner = quoted.substr(1, quoted.size() - 2);
    if (inner.find('\\') == npos) return inner == name;
    const auto parsed = nlohmann::json::parse(quoted, nullptr, false);
    return parsed.is_string() && parsed.get_ref<const std::string&>() == name;
}

// A JSON pointer's array index: digits without a leading zero.
std::optional<std::size_t> IndexOf(const std::string& token) {
    if (token.empty() || token.size() > 18 || (token.size() > 1 && token[0] == '0')) return std::nullopt;
    std::size_t index = 0;
    for (const char c : token) {
        if (c < '0' || c > '9') return std::nullopt;
        index = index * 10 + static_cast<std::size_t>(c - '0');
    }
    return index;
}

std::optional<std::string_view> Element(std::string_view array, std::size_t index) {
    std::size_t i = SkipSpace(array, 1);
    if (i < array.size() && array[i] == ']') return std::nullopt;
    for (std::size_t n = 0;; ++n) {
        const std::size_t end = EndOfValue(array, i);
        if (end == npos) return std::nullopt;
        if (n == index) return array.substr(i, end - i);
        i = SkipSpace(array, end);
        if (i >= array.size() || array[i] != ',') return std::nullopt;
        i = SkipSpace(array, i + 1);
    }
}

}  // namespace

std::size_t EndOfValue(std::string_view t, std::size_t at) {
    const std::size_t i = SkipSpace(t, at);
    if (i >= t.size()) return npos;
    const char c = t[i];
    if (c == '"') return EndOfString(t, i);
    if (c == '{' || c == '[') return EndOfContainer(t, i);
    std::size_t j = i;
    while (j < t.size() && t[j] != ',' && t[j] != '}' && t[j] != ']' && !IsSpace(t[j])) ++j;
    return j == i ? npos : j;
}

std::optional<std::string_view> Member(std::string_view object, std::string_view name) {
    std::size_t i = SkipSpace(object, 0);
    if (i >= object.size() || object[i] != '{') return std::nullopt;
    i = SkipSpace(object, i + 1);
    std::optional<std::string_view> found;
    if (i < object.size() && object[i] == '}') return found;
    while (true) {
        if (i >= object.size() || object[i] != '"') return std::nullopt;
        const std::size_t nameEnd = EndOfString(object, i);
        if (nameEnd == npos) return std::nullopt;
        const auto quoted = object.substr(i, nameEnd - i);
        i = SkipSpace(object, nameEnd);
        if (i >= object.size() || object[i] != ':') return std::nullopt;
        const std::size_t valueStart = SkipSpace(object, i + 1);
        const std::size_t valueEnd = EndOfValue(object, valueStart);
        if (valueEnd == npos) return std::nullopt;
        if (NameEquals(quoted, name)) found = object.substr(valueStart, valueEnd - valueStart);
        i = SkipSpace(object, valueEnd);
        if (i < object.size() && object[i] == ',') {
            i = SkipSpace(object, i + 1);
        } else if (i < object.size() && object[i] == '}') {
            return found;
        } else {
            return std::nullopt;
        }
    }
}

std::optional<std::string_view> At(std::string_view value, const std::vector<std::string>& tokens) {
    std::optional<std::string_view> here = value.substr(SkipSpace(value, 0));
    for (const auto& token : tokens) {
        if (!here || here->empty()) return std::nullopt;
        if (here->front() == '{') {
            here = Member(*here, token);
        } else if (here->front() == '[') {
            const auto index = IndexOf(token);
            if (!index) return std::nullopt;
            here = Element(*here, *index);
        } else {
            return std::nullopt;
        }
    }
    return here;
}

}  // namespace cosmosbackup::jsonspans
