#pragma once

#include <string>

namespace cosmosbackup {

// Backups of a chain name each other by relative paths ("../full"), so that a chain can be
// moved or copied whole. These work on locations as OpenBackupStore takes them: directories,
// or blob prefixes, whose paths are taken within their container.

// `relative` seen from `from`, in the same kind of storage: a directory beside a directory, a
// prefix of the same blob container beside a prefix. Throws ToolError for an absolute path or
// a URL, and for a path that leaves the blob container. `relative` comes from a manifest.
std::string ResolveLocation(const std::string& from, const std::string& relative);

// `to` as seen from `from`, the inverse of ResolveLocation. Throws ToolError unless both are
// directories or both are prefixes of one blob container.
std::string RelativeLocation(const std::string& to, const std::string& from);

// Whether two locations name the same directory or blob prefix.
bool SameLocation(const std::string& a, const std::string& b);

}  // namespace cosmosbackup
