// Worlds whose wrapper assembly does not fit the bridge, as one of another version might
// (see CMakeLists.txt and managed/testdouble/misfit). Whatever the assembly declares, a
// call gives its failure result and a record; the process lives on and the host's
// variables, also those beside the ones it passed, keep their values.

#include <CloudSDKCppBridge.h>

#include "support/TestDouble.h"

#include <gtest/gtest.h>

using CloudSDKCppBridge::CCloudSDKCppBridge;
using CloudSDKCppBridge::CCloudWrapperPtr;
using testsupport::CountInLog;

namespace {

#if defined(WORLD_FOREIGN_WRAPPER)

TEST(ForeignWrapper, IsRefusedByInitAndEveryCallGivesItsFailureResult) {
    CCloudSDKCppBridge bridge;
    ASSERT_TRUE(CCloudWrapperPtr::c_AzuremonoInitStatus);
    EXPECT_EQ(CountInLog("Mono derived class [CAzureResourceWrapper] does not derive from [CCloudWrapper]"), 1);
    // The methods of its own of the same names are never looked for on it.
    EXPECT_FALSE(bridge.Connect("a", "b", "c"));
    EXPECT_FALSE(bridge.CheckConnection());
    EXPECT_EQ(bridge.GetLastErrorString(), "");
    long long count = 5;
    EXPECT_FALSE(bridge.CountItems(count));
    EXPECT_EQ(count, 5);
    EXPECT_EQ(CountInLog("object has been destroyed"), 4);
    EXPECT_FALSE(bridge.Initialize("a", "b", 1, 0));
    EXPECT_EQ(CountInLog("does not derive from"), 2);
    EXPECT_EQ(CountInLog("Failed to initialize CloudSDKWrapper"), 1);
}

#elif defined(WORLD_MISFIT_WIDTHS)

TEST(MisfitWidths, MethodsOfOtherWidthsAreNotRunAndTheHostsVariablesStay) {
    CCloudSDKCppBridge bridge;
    EXPECT_EQ(bridge.GetLastErrorString(), "misfit");  // a method that fits still runs
    struct {
        int nOut = 7;
        int nNeighbour = 11;  // where a 64-bit write to nOut would end
    } host;
    EXPECT_FALSE(bridge.ChangeCosmosDBThroughput(1, 2, host.nOut));
    EXPECT_EQ(host.nOut, 7);
    EXPECT_EQ(host.nNeighbour, 11);
    long long count = 5;
    EXPECT_FALSE(bridge.CountItems(count));
    EXPECT_EQ(count, 5);
    EXPECT_FALSE(bridge.OpenCosmosDBContainer("a", "b", true, "c", "d"));
    EXPECT_FALSE(bridge.CreateCosmosDBDatabase("a", "b", true, "c", 1, 2, false));

    const std::string prefix = "Managed method [CAzureResourceWrapper.";
    EXPECT_EQ(CountInLog(prefix + "ChangeCosmosDBThroughput] does not fit the call: expected instance (int, int, "
                                  "ref int), found instance (int, int, ref long)"),
              1)
        << testsupport::ReadLog();
    EXPECT_EQ(CountInLog(prefix + "CountItems] does not fit the call: expected instance (ref long), found instance "
                                  "(ref int)"),
              1);
    EXPECT_EQ(CountInLog(prefix + "OpenCosmosDBContainer] does not fit the call: expected instance (string, "
                                  "string, bool, string, string), found instance (string, string, int, string, "
                                  "string)"),
              1);
    EXPECT_EQ(CountInLog(prefix + "CreateCosmosDBDatabase] does not fit the call: expected instance (string, "
                                  "string, bool, string, int, int, bool), found instance (string, string, bool, "
                                  "string, long, int, bool)"),
              1);
    EXPECT_EQ(CountInLog("does not fit the call"), 4);  // once per call
    EXPECT_EQ(CountInLog("Result is invalid (bool)"), 4);
}

#elif defined(WORLD_MISFIT_SHAPES)

TEST(MisfitShapes, MethodsOfOtherCountsReferenceFlagsOrBindingAreNotRun) {
    CCloudSDKCppBridge bridge;
    EXPECT_EQ(bridge.GetLastErrorString(), "misfit");
    const std::string item = "item";
    EXPECT_FALSE(bridge.AddCosmosDBRestoreItem(item));  // run, it would write over the text's object
    bool empty = false;
    EXPECT_FALSE(bridge.IsEmpty(empty));
    EXPECT_FALSE(bridge.Connect("a", "b", "c"));  // run, it would read a fourth slot past the array
    EXPECT_FALSE(bridge.StartCosmosDBRestore(1, "a"));
    EXPECT_FALSE(bridge.CheckConnection());
    EXPECT_EQ(item, "item");
    std::string next = "old";
    bool more = false;
    CloudSDKCppBridge::SItemPage page;
    EXPECT_FALSE(bridge.GetCosmosDBPage("a", 1, next, more, page));  // run, it would read a flag's address as its value
    EXPECT_EQ(next, "old");
    EXPECT_FALSE(more);
    EXPECT_EQ(page.size(), 0u);

    const std::string prefix = "Managed method [CAzureResourceWrapper.";
    EXPECT_EQ(CountInLog(prefix + "AddCosmosDBRestoreItem] does not fit the call: expected instance (string), "
                                  "found instance (ref string)"),
              1)
        << testsupport::ReadLog();
    EXPECT_EQ(CountInLog(prefix + "IsEmpty] does not fit the call: expected instance (ref bool), found instance "
                                  "(bool)"),
              1);
    EXPECT_EQ(CountInLog(prefix + "Connect] does not fit the call: expected instance (string, string, string), "
                                  "found instance (string, string, string, string)"),
              1);
    EXPECT_EQ(CountInLog(prefix + "StartCosmosDBRestore] does not fit the call: expected instance (int, string), "
                                  "found instance (int)"),
              1);
    EXPECT_EQ(CountInLog("Managed method [CCloudWrapper.CheckConnection] does not fit the call: expected instance "
                         "(), found static ()"),
              1);
    EXPECT_EQ(CountInLog(prefix + "GetCosmosDBPage] does not fit the call: expected instance (string, long, ref "
                                  "string, ref bool, ref bool), found instance (string, long, ref string, bool, ref bool)"),
              1);
    EXPECT_EQ(CountInLog("does not fit the call"), 6);
    // Refused again after its declaration was read and kept.
    EXPECT_FALSE(bridge.Connect("a", "b", "c"));
    EXPECT_EQ(CountInLog(prefix + "Connect] does not fit the call"), 2);
    EXPECT_EQ(bridge.GetLastErrorString(), "misfit");  // the object is intact
}

#endif

}  // namespace
