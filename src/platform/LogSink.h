#pragma once

// Where every logger's records go. One sink per process, configured from the environment
// at the first record: CLOUDSDK_LOG names a file (appended, created 0600), else standard
// error; CLOUDSDK_LOG_LEVEL 0, 1 (default) or 2 selects what is written.

#include <cstdarg>
#include <mutex>
#include <string>

namespace cloudsdk {

enum class LogLevel { Error = 0, Debug = 1, Verbose = 2 };

class LogSink {
public:
    static LogSink& Instance();

    bool Enabled(LogLevel level) const { return static_cast<int>(level) <= m_maxLevel; }
    // Writes one line: time, level, thread id, `where` (if any) and the message; a
    // trailing line end of the message is not doubled. Lines never interleave.
    void Write(LogLevel level, const char* where, const std::string& message);

private:
    LogSink();

    int m_fd;
    int m_maxLevel;
    std::mutex m_writing;
};

// printf-style formatting into a text of any length.
std::string FormatMessage(const char* format, va_list args);

}  // namespace cloudsdk
