// The log never carries the texts a host passes in or gets back (account keys, connection
// strings, documents), whatever fails, at the most detailed level; and the library
// creates the log file readable and writable by its owner only.
//
// Each test points the log at a file of its own before anything in the process logs: the
// log's destination and level are read at the first record.

#include "MethodCases.h"
#include "ReliabilitySupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace CloudSDKCppBridge;
using testsupport::TestDouble;

namespace {

// Looks like what it stands for, and is found in the log whole or in part.
const std::string kSecret = "AccountKey=c2VjcmV0LW1hcmtlci1aUTk=;Endpoint=https://secret-marker.example/";
const char* const kSecretParts[] = {"c2VjcmV0", "secret-marker", "AccountKey=", "LW1hcmtlci1a"};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A fresh path for this process's log, in a directory of its own.
std::string FreshLogPath() {
    char directory[] = "/tmp/cloudsdk-log-XXXXXX";
    if (mkdtemp(directory) == nullptr) {
        return "";
    }
    return std::string(directory) + "/bridge.log";
}

const char* const kManagedNames[] = {
    "Initialize", "Connect", "SetWebProxy", "UseStdout", "Disconnect", "CheckConnection", "GetLastErrorString",
    "setAssemblyResolverDisabled", "getAssemblyResolverDisabled", "GetDatabaseAccountInfoList",
    "GetDatabaseAccountInfoListForRegion", "GetCosmosDBAuthenticationInfo", "ListCosmosDBDatabases",
    "ListCosmosDBContainers", "OpenCosmosDBContainer", "DescribeCosmosDBContainer", "CountItems",
    "ObtainContainerStatistics", "IsEmpty", "GetCosmosDBTokens", "GetCosmosDBData", "BackupAttachedScripts",
    "CreateCosmosDBDatabase", "CreateCosmosDBContainer", "RemoveCosmosDBContainer", "StartCosmosDBRestore",
    "AddCosmosDBRestoreItems", "AddCosmosDBRestoreItem", "FlushCosmosDBRestore", "RestoreAttachedScripts",
    "RemoveAllTriggers", "ChangeCosmosDBThroughput"};

const char* const kTextListMethods[] = {"ListCosmosDBDatabases", "ListCosmosDBContainers", "GetCosmosDBTokens",
                                        "GetCosmosDBData"};
const char* const kAccountListMethods[] = {"GetDatabaseAccountInfoList", "GetDatabaseAccountInfoListForRegion"};

// The managed side's ways of failing, each one pass over every method.
void ScriptEveryMethodToThrow(const std::string& exceptionClass) {
    TestDouble::Reset();
    for (const char* method : kManagedNames) {
        TestDouble::Script(method, "throw", exceptionClass);
    }
}

void ScriptFailingResults(const std::string& secret) {
    TestDouble::Reset();
    for (const char* method : kManagedNames) {
        TestDouble::Script(method, "result", "false");
    }
    TestDouble::Script("GetLastErrorString", "result", "null");
    for (const char* method : kTextListMethods) {
        TestDouble::Script(method, "result", "string:" + secret);  // a string where a list belongs
    }
    for (const char* method : kAccountListMethods) {
        TestDouble::Script(method, "result", "true");
    }
}

void ScriptBrokenLists(const std::string& secret, const char* kind) {
    TestDouble::Reset();
    TestDouble::Script("GetCosmosDBData", "ref4", "true");
    for (const char* method : kTextListMethods) {
        TestDouble::Script(method, "result", std::string(kind) + secret + "|" + secret);
    }
    for (const char* method : kAccountListMethods) {
        TestDouble::Script(method, "result", "accounts:" + secret + "," + secret);  // no location field
    }
}

// Texts that come back hold the secret too: the host gets them, the log must not.
void ScriptSecretAnswers(const std::string& secret) {
    TestDouble::Reset();
    TestDouble::Script("GetLastErrorString", "result", "string:" + secret);
    for (const char* method : {"GetCosmosDBAuthenticationInfo"}) {
        TestDouble::Script(method, "ref2", secret);
        TestDouble::Script(method, "ref3", secret);
    }
    TestDouble::Script("DescribeCosmosDBContainer", "ref1", secret);
    TestDouble::Script("DescribeCosmosDBContainer", "ref6", secret);
    TestDouble::Script("ObtainContainerStatistics", "ref3", secret);
    TestDouble::Script("BackupAttachedScripts", "ref3", secret);
    TestDouble::Script("GetCosmosDBData", "ref3", secret);
    TestDouble::Script("GetCosmosDBData", "ref4", "true");
    for (const char* method : kTextListMethods) {
        TestDouble::Script(method, "result", "texts-odd:object|nofield|" + secret);
    }
}

TEST(LogHygiene, NoRecordCarriesAHostTextWhateverFails) {
    const std::string log = FreshLogPath();
    ASSERT_FALSE(log.empty());
    setenv("CLOUDSDK_LOG", log.c_str(), 1);
    setenv("CLOUDSDK_LOG_LEVEL", "2", 1);
    CCloudSDKCppBridge bridge;
    ASSERT_TRUE(CCloudWrapperPtr::c_AzuremonoInitStatus) << ReadFile(log);
    void* secretArg[] = {std2gc(kSecret)};
    TestDouble::CallStatic("ReliabilitySecretException", "SetSecret", secretArg, 1);

    ScriptEveryMethodToThrow("CloudSDKWrapper.ReliabilitySecretException");
    reliability::CallEveryMethodWithText(bridge, kSecret);
    ScriptEveryMethodToThrow("System.ArgumentException");
    reliability::CallEveryMethodWithText(bridge, kSecret + "\xC3");
    ScriptFailingResults(kSecret);
    reliability::CallEveryMethodWithText(bridge, kSecret);
    for (const char* kind : {"texts-throw-at:1:", "texts-null-at:0:", "texts-odd:object|nofield|"}) {
        ScriptBrokenLists(kSecret, kind);
        reliability::CallEveryMethodWithText(bridge, kSecret);
    }
    ScriptSecretAnswers(kSecret);
    reliability::CallEveryMethodWithText(bridge, kSecret);
    // A restore list whose records cannot all be made, and texts that are too odd to cross.
    bridge.AddCosmosDBRestoreItems({{kSecret}, {std::string("\xED\xA0\x80") + kSecret}});

    const std::string written = ReadFile(log);
    // The failures were logged: the check below looks at real records.
    int exceptionRecords = 0;
    for (size_t at = written.find("Exception caught in bridge - ReliabilitySecretException");
         at != std::string::npos; at = written.find("Exception caught in bridge - ReliabilitySecretException", at + 1)) {
        ++exceptionRecords;
    }
    EXPECT_EQ(exceptionRecords, 32) << written;
    EXPECT_NE(written.find("Result is invalid"), std::string::npos);
    EXPECT_NE(written.find("Enumerator method"), std::string::npos);
    EXPECT_NE(written.find("DEBUG2"), std::string::npos) << "the most detailed level was not on";
    EXPECT_EQ(written.find(kSecret), std::string::npos);
    for (const char* part : kSecretParts) {
        EXPECT_EQ(written.find(part), std::string::npos) << "found \"" << part << "\" in:\n"
                                                         << written.substr(0, 4000);
    }
}

TEST(LogHygiene, LogFileIsCreatedForItsOwnerOnly) {
    const std::string log = FreshLogPath();
    ASSERT_FALSE(log.empty());
    setenv("CLOUDSDK_LOG", log.c_str(), 1);
    const mode_t previous = umask(0);  // nothing masked: the mode is the library's own choice
    {
        CCloudSDKCppBridge bridge;
        EXPECT_TRUE(bridge.CheckConnection());
    }
    umask(previous);
    struct stat info {};
    ASSERT_EQ(stat(log.c_str(), &info), 0) << "no log file was created";
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(info.st_uid, geteuid());
    EXPECT_NE(ReadFile(log).find(reliability::kStartupRecord), std::string::npos);
}

}  // namespace
