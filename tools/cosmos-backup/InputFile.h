#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace cosmosbackup {

// A backup directory is input from outside: it may have been edited, crafted or damaged. Every
// file of it is opened through these functions, which never follow a symbolic link, take only
// regular files and keep every name inside the directory.

inline constexpr std::size_t kMaxLineBytes = 4u << 20;       // the service's items are at most 2 MB
inline constexpr std::size_t kMaxManifestBytes = 64u << 20;  // scripts and file list included

// An open file descriptor, closed when it goes.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor();
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(other.Release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    int Release();

private:
    int m_fd;
};

// True for the names the tool gives its data files (items-00000.jsonl.gz, ..., and per key range
// items-r0000-00000.jsonl.gz, ...): no separator,
// no "..", nothing absolute.
bool IsDataFileName(const std::string& name);

// `directory`/`name` for a data file named in a manifest; throws ToolError for any other name.
std::string DataFilePath(const std::string& directory, const std::string& name);

// Opens a regular file for reading without following a symbolic link; throws ToolError
// otherwise. `size` receives its size.
FileDescriptor OpenRegularFile(const std::string& path, off_t& size);

// Makes a directory's entries durable (fsync); throws ToolError on failure.
void SyncDirectory(const std::string& path);

}  // namespace cosmosbackup
