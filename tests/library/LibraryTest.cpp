// The shared library as a host sees it: exactly the public interface exported, no
// link-time dependency on the runtime, and an example host that uses nothing else.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string RunCommand(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string output;
    char buffer[4096];
    size_t n;
    while (pipe && (n = fread(buffer, 1, sizeof buffer, pipe.get())) > 0) {
        output.append(buffer, n);
    }
    return output;
}

std::set<std::string> Lines(const std::string& text) {
    std::set<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) lines.insert(line);
    }
    return lines;
}

std::set<std::string> ExpectedExports() {
    std::set<std::string> expected = {
        // globals
        "g_domain", "g_image", "g_AzuremonoVersion[abi:cxx11]", "g_debug",
        "CloudSDKCppBridge::CCloudWrapperPtr::c_AzuremonoInitStatus",
        "CloudSDKCppBridge::CCloudWrapperPtr::c_AzuremonoThreadRunning",
        "CloudSDKCppBridge::CCloudWrapperPtr::c_AzuremonoInitCS",
        "CloudSDKCppBridge::CCloudWrapperPtr::c_AzuremonoInitEvent",
        "typeinfo for _MonoObject*", "typeinfo name for _MonoObject*",
        // free functions
        "std2gc(std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> > const&)",
        "gc2std[abi:cxx11](_MonoString*)", "LogException(char const*, _MonoObject*)",
        "NewManagedObjectAzure(char const*, bool)", "NewManagedDateTime()", "NewManagedArray(char const*, int)",
        "GetFieldValue(_MonoClass*, _MonoObject*, char const*)",
        "GetStringFieldValue[abi:cxx11](_MonoClass*, _MonoObject*, char const*)",
        "GetDateTimeFieldValue(_MonoClass*, _MonoObject*, char const*)",
        "GetStructFieldValue(_MonoClass*, _MonoObject*, char const*)",
        "GetBoolFieldValue(_MonoClass*, _MonoObject*, char const*)",
        "GetIntFieldValue(_MonoClass*, _MonoObject*, char const*)",
        "GetLongFieldValue(_MonoClass*, _MonoObject*, char const*)",
        "IsStringFieldEmpty(_MonoObject*, char const*)",
        "SetFieldValue(_MonoClass*, _MonoObject*, char const*, void*)",
        "LogNotPorted(char const*)", "DumpClasses()", "DumpClassMethods(_MonoClass*)",
        "DumpClassFields(_MonoClass*)", "DumpMethod(_MonoMethod*)", "mono_image_get_classes",
    };
    const std::string bridge = "CloudSDKCppBridge::CCloudSDKCppBridge::";
    for (const char* member : {"CCloudSDKCppBridge()", "~CCloudSDKCppBridge()"}) {
        expected.insert(bridge + member);
    }
    return expected;
}

// The bridge's 32 methods and the page read beside them, named without their parameter lists.
const char* const kMethods[] = {
    "Initialize", "Connect", "SetWebProxy", "UseStdout", "Disconnect", "CheckConnection", "GetLastErrorString",
    "SetAssemblyResolverDisabled", "GetAssemblyResolverDisabled", "GetDatabaseAccountInfoList",
    "GetDatabaseAccountInfoListForRegion", "GetCosmosDBAuthenticationInfo", "ListCosmosDBDatabases",
    "ListCosmosDBContainers", "OpenCosmosDBContainer", "DescribeCosmosDBContainer", "CountItems",
    "ObtainContainerStatistics", "IsEmpty", "GetCosmosDBTokens", "GetCosmosDBData", "GetCosmosDBPage",
    "BackupAttachedScripts", "CreateCosmosDBDatabase", "CreateCosmosDBContainer", "RemoveCosmosDBContainer", "StartCosmosDBRestore",
    "AddCosmosDBRestoreItems", "AddCosmosDBRestoreItem", "FlushCosmosDBRestore", "RestoreAttachedScripts",
    "RemoveAllTriggers", "ChangeCosmosDBThroughput"};

TEST(SharedLibrary, ExportsExactlyThePublicInterface) {
    const auto exported = Lines(RunCommand("nm -D -C --defined-only " LIBRARY_PATH " | cut -d' ' -f3-"));
    std::set<std::string> unexpected = exported;
    for (const std::string& name : ExpectedExports()) {
        EXPECT_EQ(exported.count(name), 1u) << "not exported: " << name;
        unexpected.erase(name);
    }
    for (const char* method : kMethods) {
        const std::string prefix = std::string("CloudSDKCppBridge::CCloudSDKCppBridge::") + method + "(";
        int found = 0;
        for (auto it = unexpected.begin(); it != unexpected.end();) {
            if (it->rfind(prefix, 0) == 0 || it->rfind(prefix.substr(0, prefix.size() - 1) + "[abi:cxx11](", 0) == 0) {
                ++found;
                it = unexpected.erase(it);
            } else {
                ++it;
            }
        }
        EXPECT_EQ(found, 1) << method;
    }
    for (const std::string& name : unexpected) {
        ADD_FAILURE() << "exported but not public: " << name;
    }
}

TEST(SharedLibrary, HasNoLinkTimeDependencyOnTheRuntime) {
    const std::string dynamic = RunCommand("readelf -d " LIBRARY_PATH);
    EXPECT_NE(dynamic.find("(NEEDED)"), std::string::npos);
    EXPECT_EQ(dynamic.find("mono"), std::string::npos) << dynamic;
    EXPECT_NE(dynamic.find("NODELETE"), std::string::npos) << dynamic;
}

TEST(SharedLibrary, PublicHeaderNeedsItsOwnDirectoryOnly) {
    // No runtime headers on the include path: a host compiles against ours alone.
    const std::string output =
        RunCommand("echo '#include <CloudSDKCppBridge.h>' | " CXX_COMPILER " -std=c++17 -fsyntax-only -I" INCLUDE_DIR
                   " -x c++ - 2>&1; echo \"status $?\"");
    EXPECT_NE(output.find("status 0"), std::string::npos) << output;
}

TEST(SharedLibrary, ExampleHostCallsEveryMethodThroughThePublicInterface) {
    const std::string output = RunCommand("CLOUDSDK_LOG=/dev/null " EXAMPLE_HOST_PATH "; echo \"status $?\"");
    EXPECT_NE(output.find("runtime up; 32 methods and the page read called"), std::string::npos) << output;
    EXPECT_NE(output.find("status 0"), std::string::npos) << output;
    for (const char* method : kMethods) {
        EXPECT_NE(output.find(std::string(method) + " "), std::string::npos) << method;
    }
}

}  // namespace
