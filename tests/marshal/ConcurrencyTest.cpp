// Lists crossing both ways on several threads at once while another thread keeps
// collecting garbage: each thread's texts come back whole and in order. Managed objects
// held anywhere but on a thread's stack would be moved or freed under it.

#include "MarshalTest.h"

#include "marshal/CloudSDKHelper.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace marshaltest {
namespace {

using CloudSDKCppBridge::SString;
using CloudSDKCppBridgeHelper::CCloudSDKHelper;

using ConcurrencyTest = MarshalTest;

constexpr int kThreads = 3;
constexpr int kRounds = 40;
constexpr int kTexts = 200;

// One thread's work; returns the number of rounds whose texts did not come back intact.
int RoundTrips(int thread) {
    CloudSDKCppBridge::CCloudSDKCppBridge bridge;  // attaches this thread
    std::vector<SString> in;
    for (int i = 0; i < kTexts; ++i) {
        in.push_back({"thread " + std::to_string(thread) + " text " + std::to_string(i) + " \u00e9\U0001F600"});
    }
    int broken = 0;
    for (int round = 0; round < kRounds; ++round) {
        MonoObject* list = nullptr;
        std::vector<SString> out;
        const bool filled = CCloudSDKHelper::ConvertStringList_NativeToManaged(list, in);
        const bool read = CCloudSDKHelper::ConvertStringList_ManagedToNative(out, list);
        bool same = filled && read && out.size() == in.size();
        for (size_t i = 0; same && i < in.size(); ++i) {
            same = out[i].strValue == in[i].strValue;
        }
        broken += same ? 0 : 1;
    }
    return broken;
}

TEST_F(ConcurrencyTest, RoundTripsOnSeveralThreadsUnderCollectionsKeepEveryText) {
    std::atomic<bool> done{false};
    std::thread collector([&done] {
        CloudSDKCppBridge::CCloudSDKCppBridge bridge;
        while (!done) {
            testsupport::TestDouble::Collect();
        }
    });
    std::vector<int> broken(kThreads, -1);
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([t, &broken] { broken[t] = RoundTrips(t); });
    }
    for (std::thread& worker : workers) worker.join();
    done = true;
    collector.join();
    EXPECT_EQ(broken, std::vector<int>(kThreads, 0));
    EXPECT_EQ(Logged("ERROR"), 0);
}

}  // namespace
}  // namespace marshaltest
