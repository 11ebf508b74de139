#include "account/Selection.h"

#include "support/ToolError.h"

namespace cosmosbackup {

bool GlobMatch(const std::string& pattern, const std::string& text) {
    // Iterative matching with one remembered star: linear in practice, no recursion.
    std::size_t p = 0, t = 0, starP = std::string::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || (pattern[p] != '*' && pattern[p] == text[t]))) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starT = t;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

namespace {

bool Matches(const std::string& pattern, const std::string& database, const std::string& container) {
    const auto slash = pattern.find('/');
    if (slash == std::string::npos) return GlobMatch(pattern, database);
    return GlobMatch(pattern.substr(0, slash), database) && GlobMatch(pattern.substr(slash + 1), container);
}

}  // namespace

void CheckPattern(const std::string& pattern) {
    const auto slash = pattern.find('/');
    const bool bad = pattern.empty() || slash == 0 || (slash != std::string::npos && (slash + 1 == pattern.size() ||
                                                                                      pattern.find('/', slash + 1) != std::string::npos));
    if (bad) throw ToolError("the pattern '" + pattern + "' is not DATABASE/CONTAINER (globs with * and ?) or DATABASE");
}

bool Selection::Covers(const std::string& database, const std::string& container) const {
    bool included = include.empty();
    for (const auto& p : include) included = included || Matches(p, database, container);
    if (!included) return false;
    for (const auto& p : exclude) {
        if (Matches(p, database, container)) return false;
    }
    return true;
}

}  // namespace cosmosbackup
