#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace cosmosbackup {

// Progress of a long operation on standard error: items done, rate and estimated time left,
// and for a run over many containers how many are done. As text, at most twice a second on one
// rewritten line when standard error is a terminal, else lines soon until one shows items done
// and then one at most every 30 seconds (a cron job's log stays readable); as JSON lines (one object per line, for monitoring), at most
// once a second; or not at all (--quiet).
//
// A run shows one line: the parts of a run (a container's backup, its restore, its verify)
// are made with the run's progress as `whole` and add to it instead of printing their own.
// Add and the counters may be called from any thread.
class Progress {
public:
    enum class Style { kText, kJsonLines, kQuiet };

    Progress(std::string what, std::int64_t expected, Style style = Style::kText);
    // A part of `whole` (none: a line of its own): its expected items and its items add to it.
    Progress(std::string what, std::int64_t expected, Progress* whole);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Add(std::int64_t items);
    void AddExpected(std::int64_t items);
    // The whole run's expected items, known beforehand: what its parts expect is then not added.
    void SetExpected(std::int64_t items);
    // Containers done and in all, for a run over many.
    void SetContainers(int done, int total);
    // Ends the progress line; returns the seconds since the start.
    double Finish();
    double ItemsPerSecond() const;

private:
    void Print(bool final);
    double Elapsed() const;

    std::string m_what;
    Progress* m_whole = nullptr;
    Style m_style = Style::kText;
    std::int64_t m_expected;
    bool m_expectedKnown = false;
    std::int64_t m_done = 0;
    int m_containersDone = 0;
    int m_containers = 0;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastPrint;
    bool m_terminal;
    bool m_finished = false;
    bool m_printed = false;  // a line with items done, before the last
    mutable std::mutex m_lock;
};

}  // namespace cosmosbackup
