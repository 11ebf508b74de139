#include "support/Progress.h"

#include <unistd.h>

#include <cstdio>

namespace cosmosbackup {

namespace {
constexpr auto kPrintInterval = std::chrono::milliseconds(500);
}

Progress::Progress(std::string what, std::int64_t expected)
    : m_what(std::move(what)),
      m_expected(expected),
      m_start(std::chrono::steady_clock::now()),
      m_lastPrint(m_start),
      m_terminal(isatty(STDERR_FILENO) != 0) {}

Progress::~Progress() {
    if (!m_finished && m_terminal) std::fputc('\n', stderr);
}

double Progress::Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

double Progress::ItemsPerSecond() const {
    const double seconds = Elapsed();
    return seconds > 0 ? static_cast<double>(m_done) / seconds : 0.0;
}

void Progress::Add(std::int64_t items) {
    m_done += items;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastPrint >= kPrintInterval) {
        m_lastPrint = now;
        Print(false);
    }
}

void Progress::Print(bool final) {
    const double rate = ItemsPerSecond();
    char eta[32] = "-";
    if (m_expected > m_done && rate > 0) {
        std::snprintf(eta, sizeof eta, "%.0f s", static_cast<double>(m_expected - m_done) / rate);
    } else if (m_expected > 0 && m_done >= m_expected) {
        std::snprintf(eta, sizeof eta, "0 s");
    }
    if (m_expected <= 0) {
        // An unknown total (an increment's changes): the count and the rate only.
        std::fprintf(stderr, "%s%s: %lld items, %.0f items/s%s", m_terminal ? "\r" : "", m_what.c_str(),
                     static_cast<long long>(m_done), rate, m_terminal && !final ? "   " : "\n");
        std::fflush(stderr);
        return;
    }
    std::fprintf(stderr, "%s%s: %lld of %lld items, %.0f items/s, %s left%s", m_terminal ? "\r" : "", m_what.c_str(),
                 static_cast<long long>(m_done), static_cast<long long>(m_expected), rate, eta,
                 m_terminal && !final ? "   " : "\n");
    std::fflush(stderr);
}

double Progress::Finish() {
    if (!m_finished) {
        m_finished = true;
        Print(true);
    }
    return Elapsed();
}

}  // namespace cosmosbackup
