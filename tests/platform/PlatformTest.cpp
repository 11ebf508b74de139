// The utility stand-ins: logging, synchronisation, sleeping, paths and texts. None of
// these needs the runtime.

#include <CloudSDKCppBridge.h>

#include "host/Utf.h"
#include "platform/CUbPath.h"
#include "platform/FXString.h"
#include "platform/UbSleep.h"
#include "platform/ZRPI_Base.h"
#include "platform/ZrThread.h"
#include "support/TestDouble.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using testsupport::ReadLog;

std::vector<std::string> LogLines() {
    std::istringstream in(ReadLog());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST(EvDebugTest, OneLinePerRecordWithWhereAndWithoutDoubledLineEnds) {
    g_debug.error("plain %d [%s]", 42, "x");
    g_debug.debug("ends in a newline\n");
    EvDebug once(nullptr);
    once.Error("bool Place::Method(int)", "Exception caught in bridge - %s\n", "IOException");
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 3u) << ReadLog();
    EXPECT_NE(lines[0].find(" ERROR ["), std::string::npos);
    EXPECT_NE(lines[0].find("] plain 42 [x]"), std::string::npos);
    EXPECT_NE(lines[1].find(" DEBUG ["), std::string::npos);
    EXPECT_NE(lines[2].find("bool Place::Method(int): Exception caught in bridge - IOException"), std::string::npos);
    EXPECT_EQ(lines[0].find('Z'), 26u) << lines[0];  // UTC time with microseconds
    EXPECT_NE(lines[0].find("[" + std::to_string(gettid()) + "]"), std::string::npos);
}

TEST(EvDebugTest, LogFileIsCreatedForItsOwnerOnly) {
    const std::string path = testsupport::LogPath() + ".new";
    const pid_t child = fork();
    if (child == 0) {
        setenv("CLOUDSDK_LOG", path.c_str(), 1);
        g_debug.error("first record");
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    unlink(path.c_str());
}

// Runs `records` in a child process whose log level is `level`; returns its log.
std::string LogOfChildAtLevel(const char* level) {
    const std::string path = testsupport::LogPath() + ".level";
    unlink(path.c_str());
    const pid_t child = fork();
    if (child == 0) {
        setenv("CLOUDSDK_LOG", path.c_str(), 1);
        setenv("CLOUDSDK_LOG_LEVEL", level, 1);
        g_debug.error("e-record");
        EvDebug(nullptr).Error("where", "E-record");
        g_debug.debug("d-record");
        g_debug.debugLvl(2, "v-record");
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    unlink(path.c_str());
    return text.str();
}

TEST(EvDebugTest, LevelSelectsWhatIsWritten) {
    const std::string quiet = LogOfChildAtLevel("0");
    EXPECT_NE(quiet.find("e-record"), std::string::npos);
    EXPECT_NE(quiet.find("E-record"), std::string::npos);
    EXPECT_EQ(quiet.find("d-record"), std::string::npos);
    const std::string normal = LogOfChildAtLevel("1");
    EXPECT_NE(normal.find("d-record"), std::string::npos);
    EXPECT_EQ(normal.find("v-record"), std::string::npos);
    const std::string verbose = LogOfChildAtLevel("2");
    EXPECT_NE(verbose.find("v-record"), std::string::npos);
}

TEST(EvDebugTest, ConcurrentLongRecordsNeverInterleave) {
    constexpr int kThreads = 8;
    constexpr int kRecords = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const std::string body(100000 + t, static_cast<char>('a' + t));
            for (int i = 0; i < kRecords; ++i) {
                g_debug.error("<%s>", body.c_str());
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kRecords));
    for (const std::string& line : lines) {
        const size_t open = line.find('<');
        ASSERT_NE(open, std::string::npos);
        const char letter = line[open + 1];
        const size_t length = 100000 + (letter - 'a');
        ASSERT_EQ(line.size(), open + length + 2) << "a record was cut or mixed";
        ASSERT_EQ(line.find_first_not_of(letter, open + 1), open + 1 + length);
    }
}

TEST(ZrEventTest, SetBeforeWaitIsNotLost) {
    ZrEvent event(false);
    event.set();
    event.wait();  // returns at once
    ZrEvent later(false);
    std::atomic<bool> woke{false};
    std::thread waiter([&] {
        later.wait();
        woke = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(woke);
    later.set();
    waiter.join();
    EXPECT_TRUE(woke);
}

TEST(ZrCriticalSectionTest, EnterWithoutWaitingTellsWhetherItGotIt) {
    ZrCriticalSection section;
    ASSERT_TRUE(section.enter(true));
    bool other = true;
    std::thread([&] { other = section.enter(false); }).join();
    EXPECT_FALSE(other);
    section.leave();
    std::thread([&] {
        other = section.enter(false);
        if (other) section.leave();
    }).join();
    EXPECT_TRUE(other);
}

std::atomic<int> g_signals{0};
void CountSignal(int) { ++g_signals; }

TEST(UbSleepTest, SleepsTheFullTimeThoughSignalsInterruptIt) {
    struct sigaction action {};
    action.sa_handler = CountSignal;  // no SA_RESTART: the sleep sees EINTR
    sigaction(SIGUSR1, &action, nullptr);
    const pthread_t sleeper = pthread_self();
    std::atomic<bool> done{false};
    std::thread signaller([&] {
        while (!done) {
            pthread_kill(sleeper, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const auto start = std::chrono::steady_clock::now();
    UBSLEEP_InTeRnAl(300, __FILE__, __LINE__);
    const auto slept = std::chrono::steady_clock::now() - start;
    done = true;
    signaller.join();
    EXPECT_GT(g_signals.load(), 5);
    EXPECT_GE(slept, std::chrono::milliseconds(300));
}

std::atomic<bool> g_threadRan{false};
std::atomic<bool> g_threadMayEnd{false};
void* LongRunner(void*) {
    while (!g_threadMayEnd) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    g_threadRan = true;
    return nullptr;
}

TEST(ZrThreadTest, DestroyingTheObjectLeavesTheThreadRunning) {
    {
        ZrThread thread;
        ASSERT_TRUE(thread.createThread(&LongRunner, nullptr));
    }  // neither joins nor stops
    EXPECT_FALSE(g_threadRan);
    g_threadMayEnd = true;
    for (int i = 0; i < 1000 && !g_threadRan; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(g_threadRan);
}

TEST(PathAndTextTest, AppendJoinsWithOneSlash) {
    EXPECT_STREQ(CUbPath::Append("/opt/lib", "CloudSDKWrapper").c_str(), "/opt/lib/CloudSDKWrapper");
    EXPECT_STREQ(CUbPath::Append("/opt/lib/", "x.dll").c_str(), "/opt/lib/x.dll");
    EXPECT_STREQ(CUbPath::Append("", "x.dll").c_str(), "x.dll");
    EXPECT_STREQ(CUbString().c_str(), "");
}

TEST(PathAndTextTest, ReplaceAllFromAStartPosition) {
    std::string kind = "SStringLibHandle";
    FXString::ReplaceAll(kind, "Handle", "", 0);
    EXPECT_EQ(kind, "SStringLib");
    std::string text = "aXaXaX";
    FXString::ReplaceAll(text, "a", "aa", 2);  // replacement containing the pattern ends
    EXPECT_EQ(text, "aXaaXaaX");
}

TEST(HomeDirectoryTest, EnvironmentFirstThenTheLibrarysDirectory) {
    setenv("CLOUDSDK_HOME", "/some/home", 1);
    EXPECT_EQ(ZRPI_Base().getHomeDirectory(), "/some/home");
    setenv("CLOUDSDK_HOME", "", 1);
    const std::string fallback = ZRPI_Base().getHomeDirectory();
    // Linked statically into this test, "the library" is the test executable itself.
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string exe = self;
    EXPECT_EQ(fallback, exe.substr(0, exe.rfind('/')));
}

TEST(UtfTest, ValidTextRoundTrips) {
    std::string all;
    for (char32_t cp : {0x1, 0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xE000, 0xFFFD, 0xFFFF, 0x10000, 0x10FFFF}) {
        std::u16string one;
        std::string utf8;
        // Build UTF-8 by way of a known-good UTF-16 form.
        if (cp >= 0x10000) {
            one = {char16_t(0xD800 + ((cp - 0x10000) >> 10)), char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF))};
        } else {
            one = {char16_t(cp)};
        }
        cloudsdk::Utf16ToUtf8(one.data(), one.size(), utf8);
        std::u16string back;
        cloudsdk::Utf8ToUtf16(utf8, back);
        EXPECT_EQ(back, one) << std::hex << static_cast<uint32_t>(cp);
        all += utf8;
    }
    std::u16string wide;
    cloudsdk::Utf8ToUtf16(all, wide);
    std::string again;
    cloudsdk::Utf16ToUtf8(wide.data(), wide.size(), again);
    EXPECT_EQ(again, all);
}

TEST(UtfTest, EachMaximalBadSubpartBecomesOneReplacement) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"\x80", u"\uFFFD"},
        {"\xE2\x82", u"\uFFFD"},            // truncated three-byte sequence
        {"\xE2\x82z", u"\uFFFDz"},
        {"\xF0\x9F\x98", u"\uFFFD"},        // truncated four-byte sequence
        {"\xC0\x80", u"\uFFFD\uFFFD"},      // overlong zero
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
        {"\xFF", u"\uFFFD"},
    };
    for (const auto& [in, expected] : cases) {
        std::u16string out;
        cloudsdk::Utf8ToUtf16(in, out);
        EXPECT_EQ(out, expected) << testing::PrintToString(in);
    }
}

}  // namespace
