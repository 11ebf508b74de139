#pragma once

#include <string>

namespace cosmosbackup {

// Small state files (checkpoints, progress records) that must survive a crash whole or not at
// all: written to a temporary file, flushed to disk, renamed into place, and the directory
// flushed, so that after a crash either the old or the new content is there. Owner-only.
void WriteFileDurably(const std::string& path, const std::string& content);

// The whole content of a small file; throws ToolError when it cannot be read or exceeds `limit`.
std::string ReadSmallFile(const std::string& path, std::size_t limit);

}  // namespace cosmosbackup
