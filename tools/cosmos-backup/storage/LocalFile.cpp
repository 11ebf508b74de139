#include "storage/LocalFile.h"

#include "storage/StoreLock.h"
#include "support/ToolError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace cosmosbackup {

FileDescriptor::~FileDescriptor() {
    if (m_fd >= 0) ::close(m_fd);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = other.Release();
    }
    return *this;
}

int FileDescriptor::Release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

FileDescriptor OpenRegularFile(const std::string& path, off_t& size) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        if (errno == ELOOP) throw ToolError(path + " is a symbolic link; a backup's files must be regular files");
        throw ToolError("cannot open " + path + ": " + std::strerror(errno));
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) throw ToolError("cannot examine " + path + ": " + std::strerror(errno));
    if (!S_ISREG(info.st_mode)) throw ToolError(path + " is not a regular file");
    // O_NONBLOCK only kept a FIFO from blocking the open; reads of a regular file are unaffected.
    size = info.st_size;
    return fd;
}

namespace {

void Sync(const std::string& path, int flags) {
    FileDescriptor fd(::open(path.c_str(), flags | O_CLOEXEC));
    if (fd.get() < 0 || ::fsync(fd.get()) != 0) throw ToolError("cannot make " + path + " durable: " + std::strerror(errno));
}

}  // namespace

void SyncDirectory(const std::string& path) { Sync(path, O_RDONLY | O_DIRECTORY); }

void CreateDirectoryIfMissing(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    const auto parent = fs::path(path).parent_path();
    if (!parent.empty()) fs::create_directories(parent, error);
    // Several runs may create it at once: the one that finds it made already is content.
    if (mkdir(path.c_str(), S_IRWXU) != 0 && errno != EEXIST) throw ToolError("cannot create " + path + ": " + std::strerror(errno));
    if (!fs::is_directory(path, error)) throw ToolError(path + " exists and is not a directory");
}

void CreateBackupDirectory(const std::string& path) {
    namespace fs = std::filesystem;
    CreateDirectoryIfMissing(path);
    std::error_code error;
    fs::directory_iterator entries(path, error);
    if (error) throw ToolError("cannot read " + path + ": " + error.message());
    for (const auto& entry : entries) {
        // A writer locks its location before it creates the backup there.
        if (entry.symlink_status().type() == fs::file_type::regular && IsLockName(entry.path().filename().string())) continue;
        throw ToolError(path + " is not empty; give a new directory for the backup");
    }
    // mkdir honours the umask, and an existing empty directory keeps its mode: set it here.
    if (chmod(path.c_str(), S_IRWXU) != 0) throw ToolError("cannot restrict " + path + ": " + std::strerror(errno));
}

}  // namespace cosmosbackup
