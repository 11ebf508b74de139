#include "storage/DirectoryStore.h"

#include "storage/DirectoryLock.h"
#include "storage/LocalFile.h"
#include "storage/UnfinishedWrites.h"
#include "support/ToolError.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace cosmosbackup {
namespace {

std::string Why() { return std::strerror(errno); }

std::string VersionOf(const struct stat& info) {
    return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + ":" + std::to_string(info.st_size) + ":" +
           std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec) + ":" +
           std::to_string(info.st_ctim.tv_sec) + "." + std::to_string(info.st_ctim.tv_nsec);
}

// The version of the file at `path` now; "" when there is none.
std::string VersionAt(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? VersionOf(info) : "";
}

class DirectoryFileReader : public StoredFileReader {
public:
    DirectoryFileReader(const std::string& path, const std::string& name, VersionPins& pins, const std::string& where)
        : m_path(path) {
        off_t size = 0;
        m_fd = OpenRegularFile(path, size);
        struct stat info {};
        if (::fstat(m_fd.get(), &info) != 0) throw ToolError("cannot examine " + m_path + ": " + Why());
        pins.Check(name, VersionOf(info), where);
    }

    std::size_t Read(char* buffer, std::size_t capacity) override {
        while (true) {
            const ssize_t got = ::read(m_fd.get(), buffer, capacity);
            if (got >= 0) return static_cast<std::size_t>(got);
            if (errno != EINTR) throw ToolError("cannot read " + m_path + ": " + Why());
        }
    }

private:
    std::string m_path;
    FileDescriptor m_fd;
};

class DirectoryFileWriter : public StoredFileWriter {
public:
    DirectoryFileWriter(std::string directory, std::string path, std::string name, std::shared_ptr<VersionPins> pins)
        : m_directory(std::move(directory)),
          m_path(std::move(path)),
          m_name(std::move(name)),
          m_pins(std::move(pins)),
          m_temporary(m_path + kUnfinishedWriteSuffix),
          m_fd(::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR)) {
        if (m_fd.get() < 0) throw ToolError("cannot create " + m_temporary + ": " + Why());
    }

    ~DirectoryFileWriter() override {
        if (!m_committed) ::unlink(m_temporary.c_str());
    }

    void Write(const char* data, std::size_t size) override {
        while (size > 0) {
            const ssize_t done = ::write(m_fd.get(), data, size);
            if (done < 0 && errno == EINTR) continue;
            if (done <= 0) throw ToolError("cannot write " + m_path + ": " + Why());
            data += done;
            size -= static_cast<std::size_t>(done);
        }
    }

    void Commit() override {
        if (::fsync(m_fd.get()) != 0 || ::close(m_fd.Release()) != 0) throw ToolError("cannot write " + m_path + ": " + Why());
        if (::rename(m_temporary.c_str(), m_path.c_str()) != 0) throw ToolError("cannot create " + m_path + ": " + Why());
        m_committed = true;
        m_pins->Moved(m_name, VersionAt(m_path));
        SyncDirectory(m_directory);
    }

private:
    std::string m_directory;
    std::string m_path;
    std::string m_name;
    std::shared_ptr<VersionPins> m_pins;
    std::string m_temporary;
    FileDescriptor m_fd;
    bool m_committed = false;
};

}  // namespace

DirectoryStore::DirectoryStore(std::string path) : m_path(std::move(path)) {}

std::string DirectoryStore::PathOf(const std::string& name) const {
    RequirePlainName(name);
    return m_path + "/" + name;
}

void DirectoryStore::CreateNew() { CreateBackupDirectory(m_path); }

bool DirectoryStore::CreateExclusive(const std::string& name, const std::string& content) {
    const std::string path = PathOf(name);
    // Written whole under a name of this run's own, then linked into place: link() fails when
    // the name exists, so exactly one of several runs gets it, and never sees a part.
    std::string temporary = path + kUnfinishedClaimSuffix + "XXXXXX";
    FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0) throw ToolError("cannot create " + path + ": " + Why());
    struct Unlink {
        const std::string& path;
        ~Unlink() { ::unlink(path.c_str()); }
    } removeTemporary{temporary};
    for (std::size_t done = 0; done < content.size();) {
        const ssize_t n = ::write(fd.get(), content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw ToolError("cannot write " + path + ": " + Why());
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd.get()) != 0) throw ToolError("cannot write " + path + ": " + Why());
    if (::link(temporary.c_str(), path.c_str()) != 0) {
        if (errno == EEXIST) return false;
        throw ToolError("cannot create " + path + ": " + Why());
    }
    ::unlink(temporary.c_str());  // now, as it changes the file's change time, part of its version
    m_pins->Moved(name, VersionAt(path));
    SyncDirectory(m_path);
    return true;
}

std::vector<StoredFile> DirectoryStore::List() const {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(m_path.c_str()), ::closedir);
    if (!dir && errno == ENOENT) return {};  // like an empty blob prefix: no backup there
    if (!dir) throw ToolError("cannot open the backup directory " + m_path + ": " + Why());
    std::vector<StoredFile> files;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat info {};
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            // Renamed or removed since readdir saw it (another range's writer committing): gone.
            if (errno == ENOENT) continue;
            throw ToolError("cannot examine " + m_path + "/" + name + ": " + Why());
        }
        if (S_ISREG(info.st_mode) && IsLockName(name)) continue;  // a lock, no file of the backup
        files.push_back(StoredFile{name, static_cast<std::int64_t>(info.st_size), S_ISREG(info.st_mode)});
    }
    std::sort(files.begin(), files.end(), [](const StoredFile& a, const StoredFile& b) { return a.name < b.name; });
    return files;
}

std::unique_ptr<StoredFileReader> DirectoryStore::OpenRead(const std::string& name) const {
    return std::make_unique<DirectoryFileReader>(PathOf(name), name, *m_pins, m_path);
}

std::unique_ptr<StoredFileWriter> DirectoryStore::OpenWrite(const std::string& name) {
    return std::make_unique<DirectoryFileWriter>(m_path, PathOf(name), name, m_pins);
}

void DirectoryStore::Remove(const std::string& name) {
    // A sub-location (Below) goes once it is empty.
    const bool removed = ::unlink(PathOf(name).c_str()) == 0 || (errno == EISDIR && ::rmdir(PathOf(name).c_str()) == 0);
    if (!removed && errno != ENOENT) throw ToolError("cannot remove " + PathOf(name) + ": " + Why());
    m_pins->Forget(name);
}

std::unique_ptr<BackupStore> DirectoryStore::Below(const std::string& name) const {
    return std::make_unique<DirectoryStore>(PathOf(name));
}

std::unique_ptr<StoreLock> DirectoryStore::TryLock(const std::string& name, const std::string& owner, std::string& holder) {
    RequireLockName(name);
    CreateDirectoryIfMissing(m_path);
    return TryLockFile(PathOf(name), owner, holder);
}

}  // namespace cosmosbackup
