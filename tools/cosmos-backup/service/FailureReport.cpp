#include "service/FailureReport.h"

#include "storage/LocalFile.h"
#include "support/ToolError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace cosmosbackup {
namespace {

constexpr long long kFailedItemsCode = -2;

std::string ReportName(const std::string& target) {
    std::string name = "cosmos-backup-failed-";
    for (char c : target) name += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "-%Y%m%dT%H%M%SZ.jsonl", &tm);
    return name + stamp;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// `path` made absolute, so that a resumed restore started elsewhere finds the same report.
std::string Absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char here[PATH_MAX];
    if (::getcwd(here, sizeof here) == nullptr) throw ToolError("cannot name the current directory: " + std::string(std::strerror(errno)));
    return std::string(here) + "/" + path;
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

void AppendDurably(const std::string& path, const std::string& lines) {
    const bool created = ::access(path.c_str(), F_OK) != 0;
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (file.get() < 0) throw ToolError("cannot write the failure report " + path + ": " + std::strerror(errno));
    for (std::size_t done = 0; done < lines.size();) {
        const ssize_t n = ::write(file.get(), lines.data() + done, lines.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw ToolError("cannot write the failure report " + path + ": " + std::strerror(errno));
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(file.get()) != 0) throw ToolError("cannot write the failure report " + path + ": " + std::strerror(errno));
    if (created) SyncDirectory(DirectoryOf(path));
}

}  // namespace

FailureReport::FailureReport(const std::string& where, const std::string& target, const std::string& recordedPath,
                             std::int64_t recordedCount)
    : m_where(Absolute(where.empty() ? "." : where)), m_target(target), m_path(recordedPath), m_count(recordedCount),
      m_countBefore(recordedCount) {
    // An earlier run that listed nothing yet recorded only where its report goes: a directory.
    if (!m_path.empty() && IsDirectory(m_path)) {
        m_where = m_path;
        m_path.clear();
    }
}

void FailureReport::CheckWritable() const {
    const std::string file = !m_path.empty() ? m_path : IsDirectory(m_where) ? std::string() : m_where;
    if (!file.empty() && ::access(file.c_str(), F_OK) == 0) {
        if (::access(file.c_str(), W_OK) != 0) throw ToolError("cannot write the failure report " + file + ": " + std::strerror(errno));
        return;
    }
    const std::string directory = file.empty() ? m_where : DirectoryOf(file);
    if (!IsDirectory(directory)) throw ToolError("cannot write the failure report into " + directory + ": no such directory");
    if (::access(directory.c_str(), W_OK | X_OK) != 0) {
        throw ToolError("cannot write the failure report into " + directory + ": " + std::strerror(errno) + " (--failure-report names another place)");
    }
}

void FailureReport::Collect(Connection& connection) {
    std::vector<CloudSDKCppBridge::SString> listed;
    connection.Require(connection.bridge().GetCosmosDBTokens(kFailedItemsCode, listed), "cannot list the items that failed");
    if (listed.size() <= m_taken) return;
    std::string lines;
    for (std::size_t i = m_taken; i < listed.size(); ++i) lines += listed[i].strValue + "\n";
    if (m_path.empty()) m_path = IsDirectory(m_where) ? m_where + "/" + ReportName(m_target) : m_where;
    AppendDurably(m_path, lines);
    m_count += static_cast<std::int64_t>(listed.size() - m_taken);
    m_taken = listed.size();
}

}  // namespace cosmosbackup
