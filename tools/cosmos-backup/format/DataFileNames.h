#pragma once

#include <cstddef>
#include <string>

namespace cosmosbackup {

// What the tool names its data files and how large their parts may be. Names come from
// manifests, which are input like any other: only the tool's own are taken.

inline constexpr std::size_t kMaxLineBytes = 4u << 20;       // the service's items are at most 2 MB
inline constexpr std::size_t kMaxManifestBytes = 64u << 20;  // scripts and file list included

// True for the names the tool gives its data files (items-00000.jsonl.gz, ..., and per key range
// items-r0000-00000.jsonl.gz, ...): no separator, no "..", nothing absolute.
bool IsDataFileName(const std::string& name);

// `directory`/`name` for a data file named in a manifest; throws ToolError for any other name.
std::string DataFilePath(const std::string& directory, const std::string& name);

// The name of the n-th data file of a backup.
std::string DataFileName(int index);

}  // namespace cosmosbackup
