#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace cosmosbackup {

// Progress of a long operation on standard error: items done, rate and estimated time left,
// at most twice a second, on one rewritten line when standard error is a terminal.
class Progress {
public:
    Progress(std::string what, std::int64_t expected);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Add(std::int64_t items);
    // Ends the progress line; returns the seconds since the start.
    double Finish();
    double ItemsPerSecond() const;

private:
    void Print(bool final);
    double Elapsed() const;

    std::string m_what;
    std::int64_t m_expected;
    std::int64_t m_done = 0;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastPrint;
    bool m_terminal;
    bool m_finished = false;
};

}  // namespace cosmosbackup
