#pragma once

#include "storage/BackupStore.h"

#include <optional>
#include <string>

namespace cosmosbackup {

// Small state files (checkpoints, progress records) that must survive a crash whole or not at
// all: written to a temporary file, flushed to disk, renamed into place, and the directory
// flushed, so that after a crash either the old or the new content is there. Owner-only.
void WriteFileDurably(const std::string& path, const std::string& content);

// The whole content of a small file; throws ToolError when it cannot be read or exceeds `limit`.
std::string ReadSmallFile(const std::string& path, std::size_t limit);

// The same for a small file of a backup location (a directory or a blob prefix): the store's
// commit makes it appear whole.
void WriteFileDurably(BackupStore& store, const std::string& name, const std::string& content);

// The whole content of a small file of a backup location, or nothing when it has no file of
// that name; throws ToolError when it cannot be read, is not a plain file or exceeds `limit`.
std::optional<std::string> ReadSmallFile(const BackupStore& store, const std::string& name, std::size_t limit);

}  // namespace cosmosbackup
