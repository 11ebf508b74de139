// The main of every test process: gives the process a log file of its own before
// anything logs, so tests can read exactly what the library wrote.

#include "support/TestDouble.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

namespace testsupport {

namespace {
std::string g_logPath;
}

const std::string& LogPath() { return g_logPath; }

}  // namespace testsupport

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    char path[] = "/tmp/cloudsdk-test-XXXXXX";
    int fd = mkstemp(path);
    if (fd >= 0) {
        close(fd);
    }
    testsupport::g_logPath = path;
    setenv("CLOUDSDK_LOG", path, 1);
    const int status = RUN_ALL_TESTS();
    if (status == 0) {
        unlink(path);
    } else {
        fprintf(stderr, "log of this test process: %s\n", path);
    }
    return status;
}
