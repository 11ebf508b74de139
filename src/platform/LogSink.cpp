#include "platform/LogSink.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <type_traits>

namespace cloudsdk {

namespace {

int OpenDestination() {
    const char* path = std::getenv("CLOUDSDK_LOG");
    if (path == nullptr || *path == '\0') {
        return STDERR_FILENO;
    }
    int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    return fd >= 0 ? fd : STDERR_FILENO;
}

int ReadMaxLevel() {
    const char* text = std::getenv("CLOUDSDK_LOG_LEVEL");
    if (text == nullptr || *text < '0' || *text > '2' || text[1] != '\0') {
        return static_cast<int>(LogLevel::Debug);
    }
    return *text - '0';
}

const char* LevelName(LogLevel level) {
    switch (level) {
        case LogLevel::Error: return "ERROR";
        case LogLevel::Debug: return "DEBUG";
        case LogLevel::Verbose: return "DEBUG2";
    }
    return "?";
}

std::string Timestamp() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm utc{};
    gmtime_r(&now.tv_sec, &utc);
    char text[40];
    size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%06ldZ", now.tv_nsec / 1000);
    return text;
}

void WriteAll(int fd, const std::string& line) {
    const char* next = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t written = ::write(fd, next, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;  // a garbage collection's suspend signal, not a failure
            }
            return;
        }
        next += written;
        left -= static_cast<size_t>(written);
    }
}

}  // namespace

LogSink& LogSink::Instance() {
    // Nothing to destroy at exit: threads of the runtime and of the host may still log
    // while the process exits.
    static_assert(std::is_trivially_destructible<LogSink>::value);
    static LogSink sink;
    return sink;
}

LogSink::LogSink() : m_fd(OpenDestination()), m_maxLevel(ReadMaxLevel()) {}

void LogSink::Write(LogLevel level, const char* where, const std::string& message) {
    std::string line = Timestamp();
    line += ' ';
    line += LevelName(level);
    line += " [";
    line += std::to_string(gettid());
    line += "] ";
    if (where != nullptr) {
        line += where;
        line += ": ";
    }
    line += message;
    if (line.empty() || line.back() != '\n') {
        line += '\n';
    }
    std::lock_guard<std::mutex> lock(m_writing);
    WriteAll(m_fd, line);
}

std::string FormatMessage(const char* format, va_list args) {
    va_list measuring;
    va_copy(measuring, args);
    int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length <= 0) {
        return std::string();
    }
    std::string text(static_cast<size_t>(length), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

}  // namespace cloudsdk
