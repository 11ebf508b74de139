// A host must end with its own status, without hanging, whatever the bridge's threads are
// doing when it leaves main or calls exit(); and a host that closes the library with
// dlclose goes on working. Each scenario runs many times, since a race at exit shows only
// now and then. The host programs use nothing but the shared library.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// Fewer runs under AddressSanitizer, where each host takes ten times as long to start
// and to exit; the normal build makes the many runs.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kRuns = 5;
#else
constexpr int kRuns = 20;
#endif
constexpr int kTimeoutSeconds = 20;

struct Outcome {
    int status = -1;  // the exit status, or 128 + signal
    std::string output;
    std::string log;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A scratch directory of its own per test process: the working directory of the hosts
// (the hold file lives there) and the place of their logs and output.
const std::string& ScratchDirectory() {
    static const std::string directory = [] {
        char path[] = "/tmp/cloudsdk-exit-XXXXXX";
        return std::string(mkdtemp(path) != nullptr ? path : "/tmp");
    }();
    return directory;
}

// Runs `host args` under `timeout`, which kills it (status 137) if it hangs.
Outcome RunHost(const std::string& host, const std::string& args) {
    const std::string out = ScratchDirectory() + "/out";
    const std::string log = ScratchDirectory() + "/log";
    std::remove(log.c_str());
    const std::string command = "cd " + ScratchDirectory() + " && CLOUDSDK_LOG=" + log + " timeout -s KILL " +
                                std::to_string(kTimeoutSeconds) + " " + host + " " + args + " >" + out + " 2>&1";
    const int raw = std::system(command.c_str());
    Outcome outcome;
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    outcome.output = ReadFile(out);
    outcome.log = ReadFile(log);
    return outcome;
}

int Count(const std::string& text, const std::string& needle) {
    int count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++count;
    }
    return count;
}

// Every run of `scenario` ends with the status it chose (a different one per run).
void ExpectOwnStatusEveryRun(const std::string& scenario, int runs = kRuns) {
    for (int run = 0; run < runs; ++run) {
        const int status = 10 + run;
        const Outcome outcome = RunHost(EXIT_HOST_PATH, scenario + " " + std::to_string(status));
        ASSERT_EQ(outcome.status, status) << scenario << " run " << run << " (137: killed after "
                                          << kTimeoutSeconds << " s)\n"
                                          << outcome.output << "\nlog:\n"
                                          << outcome.log;
        EXPECT_EQ(Count(outcome.log, "mono initialization returned"), 1) << outcome.log;
        EXPECT_EQ(outcome.output.find("Native Crash"), std::string::npos) << outcome.output;
    }
}

TEST(ExitTest, HostLeavingWhileTheRuntimeThreadSleepsKeepsItsStatus) {
    ExpectOwnStatusEveryRun("idle-return");
    ExpectOwnStatusEveryRun("idle-exit");
}

TEST(ExitTest, HostLeavingWhileThreadsAreInsideABlockingManagedCallKeepsItsStatus) {
    ExpectOwnStatusEveryRun("blocked-return");
    ExpectOwnStatusEveryRun("blocked-exit");
}

TEST(ExitTest, HostLeavingWhileThreadsWaitForTheHoldFileKeepsItsStatus) {
    ExpectOwnStatusEveryRun("held-return", 10);
}

TEST(ExitTest, HostLeavingWhileThreadsConstructAndCallKeepsItsStatus) {
    ExpectOwnStatusEveryRun("constructing-return");
    ExpectOwnStatusEveryRun("constructing-exit");
    ExpectOwnStatusEveryRun("busy-return");
    ExpectOwnStatusEveryRun("busy-exit");
}

TEST(ExitTest, BusyThreadCallingExitEndsTheProcessWithItsStatus) { ExpectOwnStatusEveryRun("busy-thread-exit"); }

// Threads that block every signal (the runtime's included, until they call) while they
// construct, call and collect.
TEST(ExitTest, HostWhoseThreadsBlockEverySignalKeepsItsStatus) {
    ExpectOwnStatusEveryRun("masked-busy-return", kRuns / 2);
    ExpectOwnStatusEveryRun("masked-blocked-exit", kRuns / 2);
}

TEST(ExitTest, ClosingTheLibraryLeavesTheProcessWorking) {
    for (int run = 0; run < 5; ++run) {
        const Outcome outcome = RunHost(DLCLOSE_HOST_PATH, std::string(LIBRARY_PATH) + " 33");
        ASSERT_EQ(outcome.status, 33) << outcome.output << "\nlog:\n" << outcome.log;
        for (int round = 0; round < 3; ++round) {
            EXPECT_NE(outcome.output.find("round " + std::to_string(round) + ": check 1 add 1 close 0"),
                      std::string::npos)
                << outcome.output;
        }
        // Opened three times, started once: the runtime outlives each close.
        EXPECT_EQ(Count(outcome.log, "mono initialization returned"), 1) << outcome.log;
    }
}

// A thread that constructs a bridge and calls it after exit() has run the library's own
// clean-up (its static destructors) still gets a working bridge, and the process ends
// with its status: the start-up state has nothing that exit destroys.
TEST(ExitTest, BridgeConstructedWhileTheProcessExitsWorks) {
    for (int run = 0; run < 5; ++run) {
        const Outcome outcome = RunHost(DLCLOSE_HOST_PATH, std::string(LIBRARY_PATH) + " 34 late");
        ASSERT_EQ(outcome.status, 34) << outcome.output << "\nlog:\n" << outcome.log;
        EXPECT_NE(outcome.output.find("late call: check 1"), std::string::npos) << outcome.output;
    }
}

TEST(ExitTest, HostLeavingWhileTheFirstBridgeStartsTheRuntimeKeepsItsStatus) {
    for (const char* scenario : {"starting-return", "starting-exit"}) {
        for (int run = 0; run < kRuns; ++run) {
            const int status = 10 + run;
            const Outcome outcome = RunHost(EXIT_HOST_PATH, std::string(scenario) + " " + std::to_string(status));
            ASSERT_EQ(outcome.status, status) << scenario << " run " << run << "\n" << outcome.output;
            EXPECT_LE(Count(outcome.log, "mono initialization returned"), 1) << outcome.log;
        }
    }
}

}  // namespace
