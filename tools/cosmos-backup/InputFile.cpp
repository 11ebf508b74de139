#include "InputFile.h"

#include "ToolError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <regex>

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

bool IsDataFileName(const std::string& name) {
    // items-NNNNN from one reader; items-rRRRR-NNNNN from a reader per key range.
    static const std::regex pattern("items-(r[0-9]{4}-)?[0-9]{5,9}\\.jsonl\\.gz");
    return std::regex_match(name, pattern);
}

std::string DataFilePath(const std::string& directory, const std::string& name) {
    if (!IsDataFileName(name)) {
        throw ToolError("the manifest names a data file \"" + name +
                        "\" that is not one of this tool's (items-NNNNN.jsonl.gz, items-rRRRR-NNNNN.jsonl.gz); the backup is not trusted");
    }
    return (std::filesystem::path(directory) / name).string();
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

}  // namespace cosmosbackup
