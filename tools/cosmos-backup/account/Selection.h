#pragma once

#include <string>
#include <vector>

namespace cosmosbackup {

// Shell-style glob over a whole text: '*' any run of characters, '?' one character, anything
// else itself (case-sensitive, as the service's ids are).
bool GlobMatch(const std::string& pattern, const std::string& text);

// Which containers of an account a run covers: `include` and `exclude` patterns of the form
// DATABASE/CONTAINER (each part a glob; a pattern without '/' is a database pattern and covers
// all its containers). A container is covered when no include is given or one matches, and no
// exclude matches.
struct Selection {
    std::vector<std::string> include;
    std::vector<std::string> exclude;

    bool Covers(const std::string& database, const std::string& container) const;
};

// Throws ToolError for a pattern with more than one '/' or an empty part.
void CheckPattern(const std::string& pattern);

}  // namespace cosmosbackup
