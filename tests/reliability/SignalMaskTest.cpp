// Hosts that block signals in their threads, as servers do (block everything, wait for
// signals in one thread): collections must still be able to stop every thread that has
// called into the library, and a managed null dereference on such a thread must still
// become a managed exception. Without the runtime's signals a collection waits for ever
// and a blocked SIGSEGV ends the process.

#include "ReliabilitySupport.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

using namespace CloudSDKCppBridge;
using testsupport::TestDouble;

namespace {

void BlockAllSignals() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
}

bool Blocked(int signal) {
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    return sigismember(&mask, signal) == 1;
}

// Ends the process with a message if `done` is not set in time: a hang here would
// otherwise only show as the test's timeout.
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit)
        : m_thread([this, limit] {
              const auto deadline = std::chrono::steady_clock::now() + limit;
              while (!m_done.load()) {
                  if (std::chrono::steady_clock::now() > deadline) {
                      std::fprintf(stderr, "collections hung with threads that block signals\n");
                      std::_Exit(3);
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
              }
          }) {}
    ~Watchdog() {
        m_done = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

TEST(SignalMask, CollectionsGoOnWhileThreadsThatBlockEverySignalCall) {
    // As a server sets up: every signal blocked before any other thread exists, so the
    // runtime's host thread and every worker inherit the mask.
    BlockAllSignals();
    CCloudSDKCppBridge first;
    ASSERT_TRUE(CCloudWrapperPtr::c_AzuremonoInitStatus);
    TestDouble::Script("ListCosmosDBDatabases", "result", "texts:a|b");
    std::atomic<bool> stop{false};
    std::atomic<int> calls{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&, t] {
            CCloudSDKCppBridge own;
            while (!stop.load()) {
                if (t == 0) {
                    BlockAllSignals();  // and one that blocks them again before every call
                }
                std::vector<SString> texts;
                if (own.ListCosmosDBDatabases("a", "k", true, texts) && texts.size() == 2) {
                    ++calls;
                }
            }
        });
    }
    // A thread that called once and then went back to host work.
    std::thread idle([&] {
        CCloudSDKCppBridge own;
        own.CheckConnection();
        while (!stop.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    {
        Watchdog watchdog(std::chrono::seconds(30));
        for (int i = 0; i < 50; ++i) {
            TestDouble::Collect();
        }
    }
    stop = true;
    for (auto& worker : workers) {
        worker.join();
    }
    idle.join();
    EXPECT_GT(calls.load(), 0);
}

TEST(SignalMask, ThreadsThatExitWithEverySignalBlockedDoNotHoldUpCollections) {
    CCloudSDKCppBridge bridge;
    ASSERT_TRUE(CCloudWrapperPtr::c_AzuremonoInitStatus);
    Watchdog watchdog(std::chrono::seconds(30));
    reliability::Collector collector;
    // Each thread makes a call, goes back to host work that blocks every signal, and ends,
    // while collections go on: one that begins as a thread ends waits for its answer.
    for (int i = 0; i < 200; ++i) {
        std::thread([&] {
            bridge.CheckConnection();
            BlockAllSignals();
        }).join();
    }
    EXPECT_GT(collector.Stop(), 0);
    EXPECT_TRUE(bridge.CheckConnection());
}

TEST(SignalMask, ManagedNullDereferenceOnAThreadThatBlocksEverySignalIsAFailureResult) {
    CCloudSDKCppBridge bridge;
    // Unboxing the null result into the Boolean return dereferences null in managed code.
    TestDouble::Script("CheckConnection", "result", "null");
    bool result = true;
    std::thread([&] {
        BlockAllSignals();
        result = bridge.CheckConnection();
    }).join();
    EXPECT_FALSE(result);
    EXPECT_EQ(testsupport::CountInLog("CheckConnection(): Exception caught in bridge - NullReferenceException"), 1)
        << testsupport::ReadLog();
}

TEST(SignalMask, OnlyTheRuntimesSignalsAreUnblocked) {
    CCloudSDKCppBridge bridge;
    bool hostSignalsStayBlocked = false;
    bool faultSignalsUnblocked = false;
    int realTimeUnblocked = 0;
    std::thread([&] {
        BlockAllSignals();
        bridge.CheckConnection();
        hostSignalsStayBlocked = Blocked(SIGINT) && Blocked(SIGTERM) && Blocked(SIGUSR1) && Blocked(SIGUSR2) &&
                                 Blocked(SIGQUIT) && Blocked(SIGPIPE) && Blocked(SIGCHLD) && Blocked(SIGRTMAX);
        faultSignalsUnblocked = !Blocked(SIGSEGV) && !Blocked(SIGFPE);
        for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
            realTimeUnblocked += Blocked(signal) ? 0 : 1;
        }
    }).join();
    EXPECT_TRUE(hostSignalsStayBlocked);
    EXPECT_TRUE(faultSignalsUnblocked);
    // The runtime's suspend, restart and abort signals, and nothing more.
    EXPECT_GE(realTimeUnblocked, 1);
    EXPECT_LE(realTimeUnblocked, 3);
}

}  // namespace
