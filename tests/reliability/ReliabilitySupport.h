#pragma once

// Shared by the reliability tests: resident memory, threads attached to the runtime, and
// the start-up record that must appear exactly once per process.

#include <CloudSDKCppBridge.h>

#include "platform/MonoAPI.h"
#include "support/TestDouble.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace reliability {

// Under AddressSanitizer freed memory waits in a quarantine of hundreds of MiB and the
// shadow memory grows with the heap, so resident memory says nothing about leaks there
// (LeakSanitizer checks them in that build instead). The live-object counts still hold.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kResidentMemoryMeaningful = false;
#else
inline constexpr bool kResidentMemoryMeaningful = true;
#endif

inline constexpr const char* kStartupRecord = "mono initialization returned - [";
inline constexpr long kMiB = 1024 * 1024;

// Resident memory of this process, from /proc/self/statm (pages, second field).
inline long ResidentBytes() {
    long size = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &size, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

// For threads that call the test double directly rather than through a bridge method
// (which attaches the calling thread itself).
inline void AttachThisThread() { MonoAPI::mono_thread_attach_ptr(g_domain); }

// Collections until finalisers have run: the double counts its live wrappers in its
// finaliser, and an object found by one collection is finalised before the next.
inline void CollectFully() {
    for (int i = 0; i < 4; ++i) {
        testsupport::TestDouble::Collect();
    }
}

// Forces collections on a thread of its own until stopped, `pause` apart; counts them.
class Collector {
public:
    explicit Collector(std::chrono::milliseconds pause = std::chrono::milliseconds(0))
        : m_thread([this, pause] {
              AttachThisThread();
              while (!m_stop.load()) {
                  testsupport::TestDouble::Collect();
                  ++m_collections;
                  std::this_thread::sleep_for(pause);
              }
          }) {}
    ~Collector() { Stop(); }
    Collector(const Collector&) = delete;
    Collector& operator=(const Collector&) = delete;

    // Stops the thread; returns how many collections it made.
    int Stop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
        return m_collections.load();
    }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_collections{0};
    std::thread m_thread;
};

}  // namespace reliability
