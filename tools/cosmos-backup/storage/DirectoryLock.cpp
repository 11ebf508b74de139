#include "storage/DirectoryLock.h"

#include "storage/LocalFile.h"
#include "storage/LockOwner.h"
#include "support/ToolError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace cosmosbackup {
namespace {

std::string Why() { return std::strerror(errno); }

// Held while the descriptor is open: closing it releases the lock.
class FileLock : public StoreLock {
public:
    explicit FileLock(FileDescriptor fd) : m_fd(std::move(fd)) {}
    void RequireHeld() const override {}  // the kernel never takes it away

private:
    FileDescriptor m_fd;
};

FileDescriptor OpenLockFile(const std::string& path) {
    // O_NONBLOCK: a FIFO put in the lock's place must not hang the open.
    FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, S_IRUSR | S_IWUSR));
    if (fd.get() < 0 && errno == ELOOP) throw ToolError(path + " is a symbolic link; a lock must be a regular file");
    if (fd.get() < 0) throw ToolError("cannot open the lock " + path + ": " + Why());
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) throw ToolError("cannot examine the lock " + path + ": " + Why());
    if (!S_ISREG(info.st_mode)) throw ToolError(path + " is not a regular file; a lock must be one");
    return fd;
}

std::string ReadOwner(int fd) {
    char text[512];
    const ssize_t got = ::pread(fd, text, sizeof text, 0);
    return got > 0 ? PrintableOwner(std::string(text, static_cast<std::size_t>(got))) : "";
}

void WriteOwner(int fd, const std::string& path, const std::string& owner) {
    if (::ftruncate(fd, 0) != 0) throw ToolError("cannot write the lock " + path + ": " + Why());
    for (std::size_t done = 0; done < owner.size();) {
        const ssize_t n = ::pwrite(fd, owner.data() + done, owner.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw ToolError("cannot write the lock " + path + ": " + Why());
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) throw ToolError("cannot write the lock " + path + ": " + Why());
}

}  // namespace

std::unique_ptr<StoreLock> TryLockFile(const std::string& path, const std::string& owner, std::string& holder) {
    FileDescriptor fd = OpenLockFile(path);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;  // l_start 0, l_len 0: the whole file, however long it grows
    while (::fcntl(fd.get(), F_OFD_SETLK, &whole) != 0) {
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EACCES) throw ToolError("cannot lock " + path + ": " + Why());
        holder = ReadOwner(fd.get());
        return nullptr;
    }
    WriteOwner(fd.get(), path, owner);
    return std::make_unique<FileLock>(std::move(fd));
}

}  // namespace cosmosbackup
