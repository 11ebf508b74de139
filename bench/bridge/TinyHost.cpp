// The smallest host: the public header and the shared library only. Constructs one bridge,
// makes one call and exits, which is what the start-up figure times from outside.
//
//   bridge_tiny_host            one call, then exit, printing when the bridge was made and
//                               when the call returned (CLOCK_MONOTONIC, ns):
//                               "stamps <bridge made> <first call returned>"
//   bridge_tiny_host <calls>    then <calls> more calls, printing resident memory
//                               (KiB) after the first call, after a tenth and at the end:
//                               "rss_kib <first> <tenth> <end>"

#include <CloudSDKCppBridge.h>

#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

long long MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

long ResidentKiB() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) kib = std::strtol(line + 6, nullptr, 10);
    }
    std::fclose(status);
    return kib;
}

// One of four calls in turn: texts in, a number by reference, a text out, a list out.
bool Call(CloudSDKCppBridge::CCloudSDKCppBridge& bridge, long i) {
    switch (i % 4) {
        case 0:
            return bridge.Connect("https://account.example:443/", "key-" + std::to_string(i), "database");
        case 1: {
            long long count = 0;
            return bridge.CountItems(count);
        }
        case 2:
            bridge.GetLastErrorString();
            return true;
        default: {
            std::vector<CloudSDKCppBridge::SString> databases;
            return bridge.ListCosmosDBDatabases("account", "key", false, databases);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    CloudSDKCppBridge::CCloudSDKCppBridge bridge;
    const long long made = MonotonicNs();
    long long count = 0;
    if (!bridge.CountItems(count)) {
        std::fprintf(stderr, "the first call failed: is CLOUDSDK_HOME the normal test-double world?\n");
        return 1;
    }
    if (argc < 2) {
        std::printf("stamps %lld %lld\n", made, MonotonicNs());
        return 0;
    }

    const long calls = std::strtol(argv[1], nullptr, 10);
    const long first = ResidentKiB();
    long tenth = first;
    long failures = 0;
    for (long i = 0; i < calls; ++i) {
        failures += Call(bridge, i) ? 0 : 1;
        if (i + 1 == calls / 10) tenth = ResidentKiB();
    }
    std::printf("rss_kib %ld %ld %ld\n", first, tenth, ResidentKiB());
    if (failures != 0) {
        std::fprintf(stderr, "%ld of %ld calls failed\n", failures, calls);
        return 1;
    }
    return 0;
}
