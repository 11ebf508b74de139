#include "format/DurableFile.h"

#include "storage/LocalFile.h"
#include "support/ToolError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace cosmosbackup {
namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path) {
    throw ToolError("cannot " + what + " " + path + ": " + std::strerror(errno));
}

}  // namespace

void WriteFileDurably(const std::string& path, const std::string& content) {
    const std::string temporary = path + ".tmp";
    {
        FileDescriptor fd(open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR));
        if (fd.get() < 0) Fail("create", temporary);
        std::size_t done = 0;
        while (done < content.size()) {
            const ssize_t n = write(fd.get(), content.data() + done, content.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) Fail("write", temporary);
            done += static_cast<std::size_t>(n);
        }
        if (fsync(fd.get()) != 0) Fail("flush", temporary);
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) Fail("rename into", path);
    const auto directory = std::filesystem::path(path).parent_path();
    SyncDirectory(directory.empty() ? "." : directory.string());
}

std::string ReadSmallFile(const std::string& path, std::size_t limit) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error) throw ToolError("cannot read " + path + ": " + error.message());
    if (size > limit) throw ToolError(path + " is larger than " + std::to_string(limit) + " bytes");
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in && !in.eof()) throw ToolError("cannot read " + path);
    return text.str();
}

void WriteFileDurably(BackupStore& store, const std::string& name, const std::string& content) {
    auto writer = store.OpenWrite(name);
    writer->Write(content.data(), content.size());
    writer->Commit();
}

std::optional<std::string> ReadSmallFile(const BackupStore& store, const std::string& name, std::size_t limit) {
    const auto where = store.Describe() + "/" + name;
    const auto files = store.List();
    const auto found = std::find_if(files.begin(), files.end(), [&](const StoredFile& f) { return f.name == name; });
    if (found == files.end()) return std::nullopt;
    if (!found->plain) throw ToolError(where + " is not a regular file");
    std::string text;
    auto reader = store.OpenRead(name);
    char chunk[1 << 16];
    while (const auto got = reader->Read(chunk, sizeof chunk)) {
        text.append(chunk, got);
        if (text.size() > limit) throw ToolError(where + " is larger than " + std::to_string(limit) + " bytes");
    }
    return text;
}

}  // namespace cosmosbackup
