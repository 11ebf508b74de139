#include "support/Progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace cosmosbackup {

namespace {
constexpr auto kTerminalInterval = std::chrono::milliseconds(500);
constexpr auto kLogInterval = std::chrono::seconds(30);
constexpr auto kJsonInterval = std::chrono::seconds(1);
}

Progress::Progress(std::string what, std::int64_t expected, Style style)
    : m_what(std::move(what)),
      m_style(style),
      m_expected(expected),
      m_start(std::chrono::steady_clock::now()),
      m_lastPrint(m_start),
      m_terminal(style == Style::kText && isatty(STDERR_FILENO) != 0) {}

Progress::Progress(std::string what, std::int64_t expected, Progress* whole) : Progress(std::move(what), expected) {
    m_whole = whole;
    if (m_whole != nullptr) {
        m_terminal = false;
        m_whole->AddExpected(expected);
    }
}

Progress::~Progress() {
    if (!m_finished && m_terminal) std::fputc('\n', stderr);
}

double Progress::Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

double Progress::ItemsPerSecond() const {
    const double seconds = Elapsed();
    std::lock_guard<std::mutex> hold(m_lock);
    return seconds > 0 ? static_cast<double>(m_done) / seconds : 0.0;
}

void Progress::Add(std::int64_t items) {
    if (m_whole != nullptr) m_whole->Add(items);
    std::lock_guard<std::mutex> hold(m_lock);
    m_done += items;
    const auto now = std::chrono::steady_clock::now();
    // In a log, lines soon until one shows items done (the run is moving), then one every 30 seconds.
    const auto interval = m_style == Style::kJsonLines ? kJsonInterval
                          : m_terminal || !m_printed  ? kTerminalInterval
                                                      : kLogInterval;
    if (m_whole == nullptr && now - m_lastPrint >= interval) {
        m_lastPrint = now;
        m_printed = m_done > 0;
        Print(false);
    }
}

void Progress::AddExpected(std::int64_t items) {
    std::lock_guard<std::mutex> hold(m_lock);
    if (!m_expectedKnown) m_expected += items;
}

void Progress::SetExpected(std::int64_t items) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_expected = items;
    m_expectedKnown = true;
}

void Progress::SetContainers(int done, int total) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_containersDone = done;
    m_containers = total;
}

// Called with m_lock held.
void Progress::Print(bool final) {
    if (m_style == Style::kQuiet) return;
    // A total is what was known beforehand; more items than that make the total at least as large.
    const std::int64_t expected = m_expected > 0 ? std::max(m_expected, m_done) : m_expected;
    const double seconds = Elapsed();
    const double rate = seconds > 0 ? static_cast<double>(m_done) / seconds : 0.0;
    double left = -1;  // unknown
    if (expected > m_done && rate > 0) left = static_cast<double>(expected - m_done) / rate;
    else if (expected > 0 && m_done >= expected) left = 0;
    if (m_style == Style::kJsonLines) {
        std::fprintf(stderr, "{\"progress\":\"%s\",\"final\":%s,\"items\":%lld,\"expectedItems\":%lld,\"itemsPerSecond\":%.1f,"
                             "\"secondsLeft\":%.0f,\"containersDone\":%d,\"containers\":%d,\"seconds\":%.1f}\n",
                     m_what.c_str(), final ? "true" : "false", static_cast<long long>(m_done), static_cast<long long>(expected),
                     rate, left, m_containersDone, m_containers, seconds);
        std::fflush(stderr);
        return;
    }
    std::string containers;
    if (m_containers > 0) containers = std::to_string(m_containersDone) + " of " + std::to_string(m_containers) + " containers, ";
    char eta[32] = "-";
    if (left >= 0) std::snprintf(eta, sizeof eta, "%.0f s", left);
    if (expected <= 0) {
        // An unknown total (an increment's changes): the count and the rate only.
        std::fprintf(stderr, "%s%s: %s%lld items, %.0f items/s%s", m_terminal ? "\r" : "", m_what.c_str(), containers.c_str(),
                     static_cast<long long>(m_done), rate, m_terminal && !final ? "   " : "\n");
    } else {
        std::fprintf(stderr, "%s%s: %s%lld of %lld items, %.0f items/s, %s left%s", m_terminal ? "\r" : "", m_what.c_str(),
                     containers.c_str(), static_cast<long long>(m_done), static_cast<long long>(expected), rate, eta,
                     m_terminal && !final ? "   " : "\n");
    }
    std::fflush(stderr);
}

double Progress::Finish() {
    std::lock_guard<std::mutex> hold(m_lock);
    if (!m_finished) {
        m_finished = true;
        if (m_whole == nullptr) Print(true);
    }
    return Elapsed();
}

}  // namespace cosmosbackup
