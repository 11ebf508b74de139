#pragma once

#include <sys/types.h>

#include <string>

namespace cosmosbackup {

// A backup directory is input from outside: it may have been edited, crafted or damaged. Every
// file of it is opened through these functions, which never follow a symbolic link and take
// only regular files.

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

// Opens a regular file for reading without following a symbolic link; throws ToolError
// otherwise. `size` receives its size.
FileDescriptor OpenRegularFile(const std::string& path, off_t& size);

// Makes a directory's entries durable (fsync); throws ToolError on failure.
void SyncDirectory(const std::string& path);

// Creates the directory `path` (and its parents) unless it exists; new, it is the owner's only (0700).
void CreateDirectoryIfMissing(const std::string& path);

// Creates `path` for a new backup, readable by the owner only (0700). Refuses a directory
// that holds anything but locks, so that a backup never mixes with another.
void CreateBackupDirectory(const std::string& path);

}  // namespace cosmosbackup
