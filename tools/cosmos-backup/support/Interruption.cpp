#include "support/Interruption.h"

#include <atomic>
#include <csignal>

namespace cosmosbackup {
namespace {

std::atomic<int> g_signal{0};

extern "C" void OnInterrupt(int signal) {
    int none = 0;
    if (!g_signal.compare_exchange_strong(none, signal)) {
        // Asked twice: end now, as the signal would have without a handler.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
}

}  // namespace

void InstallInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // the run goes on to its next check; no call fails half-way for it
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int InterruptSignal() { return g_signal.load(); }

std::string InterruptName() {
    switch (g_signal.load()) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    default: return "";
    }
}

void RequestInterrupt(int signal) {
    if (signal == 0) {
        g_signal = 0;
        return;
    }
    int none = 0;
    g_signal.compare_exchange_strong(none, signal);
}

void StopIfInterrupted(const std::string& sealed) {
    if (g_signal.load() != 0) throw Interrupted("interrupted by " + InterruptName() + sealed);
}

}  // namespace cosmosbackup
