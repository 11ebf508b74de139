#pragma once

#include <string>

namespace cosmosbackup {

// The path segment that holds a database's or a container's backup in an account backup: safe
// as a directory name and in a blob prefix whatever the id holds. Letters, digits, '-' and '_'
// stay; every other byte becomes "~XX" (upper-case hex), so '.', '/', '\', '%', spaces and
// non-ASCII text never reach a path, and "." or ".." cannot come out. Distinct ids give distinct
// segments; an id whose encoding would be longer than a file name may be is cut and ends in a
// hash of the whole id.
std::string EncodeSegment(const std::string& id);

// `path` (segments of an account backup) below `location` (a directory or a blob URL): how
// messages, resume commands and chain links name a container's backup.
inline std::string JoinLocation(const std::string& location, const std::string& path) {
    return location + (location.empty() || location.back() == '/' ? "" : "/") + path;
}

}  // namespace cosmosbackup
