// Faults that come from the managed side: exceptions in every managed method on many
// threads at once and in every managed call the marshalling makes, results of the wrong
// type, lists that break off midway, and a managed method that blocks. The process lives
// through each with the documented result, and the bridge goes on working.

#include "ReliabilitySupport.h"

#include "marshal/CloudSDKHelper.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace CloudSDKCppBridge;
using CloudSDKCppBridgeHelper::CCloudSDKHelper;
using testsupport::CountInLog;
using testsupport::TestDouble;

namespace {

std::string Texts(const std::vector<SString>& texts) {
    std::string joined;
    for (const SString& t : texts) {
        joined += t.strValue + "|";
    }
    return joined;
}

MonoObject* Static(const char* className, const char* method, void** args, int count) {
    return TestDouble::CallStatic(className, method, args, count);
}

class FaultsTest : public ::testing::Test {
protected:
    void SetUp() override {
        bridge = std::make_unique<CCloudSDKCppBridge>();
        ASSERT_TRUE(CCloudWrapperPtr::c_AzuremonoInitStatus);
        TestDouble::Reset();
    }

    // The bridge still answers normally.
    void ExpectBridgeWorks() {
        TestDouble::Reset();
        std::vector<SString> texts;
        TestDouble::Script("ListCosmosDBDatabases", "result", "texts:after");
        EXPECT_TRUE(bridge->ListCosmosDBDatabases("a", "k", false, texts));
        EXPECT_EQ(Texts(texts), "after|");
    }

    std::unique_ptr<CCloudSDKCppBridge> bridge;
};

// ---- Exceptions from every managed method, on eight threads at once ----------------------

struct FailureCase {
    const char* managedName;
    // Calls the method while it raises; returns what differs from its failure result.
    std::function<std::string(CCloudSDKCppBridge&)> call;
};

std::string Fails(bool result) { return result ? "true instead of false" : ""; }

std::vector<FailureCase> AllMethodsFailing() {
    return {
        {"Initialize", [](auto& b) { return Fails(b.Initialize("a", "b", 1, 0)); }},
        {"Connect", [](auto& b) { return Fails(b.Connect("a", "b", "c")); }},
        {"SetWebProxy", [](auto& b) { b.SetWebProxy("a", "b", "c"); return std::string(); }},
        {"UseStdout", [](auto& b) { b.UseStdout(); return std::string(); }},
        {"Disconnect", [](auto& b) { b.Disconnect(); return std::string(); }},
        {"CheckConnection", [](auto& b) { return Fails(b.CheckConnection()); }},
        {"GetLastErrorString", [](auto& b) { return b.GetLastErrorString().empty() ? "" : "a text"; }},
        {"setAssemblyResolverDisabled", [](auto& b) { b.SetAssemblyResolverDisabled(true); return std::string(); }},
        {"getAssemblyResolverDisabled", [](auto& b) { return Fails(b.GetAssemblyResolverDisabled()); }},
        {"GetDatabaseAccountInfoList",
         [](auto& b) {
             std::vector<SStorageAccountInfo> v;
             return Fails(b.GetDatabaseAccountInfoList("a", CosmosDBBrowseKind1, v));
         }},
        {"GetDatabaseAccountInfoListForRegion",
         [](auto& b) {
             std::vector<SStorageAccountInfo> v;
             return Fails(b.GetDatabaseAccountInfoListForRegion("a", CosmosDBBrowseKind2, v));
         }},
        {"GetCosmosDBAuthenticationInfo",
         [](auto& b) {
             std::string x = "keep", y = "keep";
             const std::string wrong = Fails(b.GetCosmosDBAuthenticationInfo("a", x, y));
             return wrong.empty() && (x != "keep" || y != "keep") ? "out-texts touched" : wrong;
         }},
        {"ListCosmosDBDatabases",
         [](auto& b) {
             std::vector<SString> v;
             return Fails(b.ListCosmosDBDatabases("a", "b", true, v));
         }},
        {"ListCosmosDBContainers",
         [](auto& b) {
             std::vector<SString> v;
             return Fails(b.ListCosmosDBContainers("a", "b", "c", true, v));
         }},
        {"OpenCosmosDBContainer", [](auto& b) { return Fails(b.OpenCosmosDBContainer("a", "b", true, "c", "d")); }},
        {"DescribeCosmosDBContainer",
         [](auto& b) {
             std::string x = "keep", y = "keep";
             CosmosDBThroughput t{};
             const std::string wrong = Fails(b.DescribeCosmosDBContainer(x, t, y));
             return wrong.empty() && (x != "keep" || y != "keep") ? "out-texts touched" : wrong;
         }},
        {"CountItems",
         [](auto& b) {
             long long n = 0;
             return Fails(b.CountItems(n));
         }},
        {"ObtainContainerStatistics",
         [](auto& b) {
             long long x = 0, y = 0;
             std::string s = "keep";
             const std::string wrong = Fails(b.ObtainContainerStatistics(x, y, s));
             return wrong.empty() && s != "keep" ? "out-text touched" : wrong;
         }},
        {"IsEmpty",
         [](auto& b) {
             bool e = false;
             return Fails(b.IsEmpty(e));
         }},
        {"GetCosmosDBTokens",
         [](auto& b) {
             std::vector<SString> v;
             return Fails(b.GetCosmosDBTokens(1, v));
         }},
        {"GetCosmosDBData",
         [](auto& b) {
             std::string s;
             bool more = true;
             std::vector<SString> v;
             return Fails(b.GetCosmosDBData("a", 1, s, more, v));
         }},
        {"BackupAttachedScripts",
         [](auto& b) {
             int n = 0;
             std::string s;
             return Fails(b.BackupAttachedScripts(true, n, s));
         }},
        {"CreateCosmosDBDatabase", [](auto& b) { return Fails(b.CreateCosmosDBDatabase("a", "b", true, "c", 1, 2, true)); }},
        {"CreateCosmosDBContainer",
         [](auto& b) {
             CosmosDBThroughput t{};
             return Fails(b.CreateCosmosDBContainer("a", "b", true, "c", "d", "e", t, true));
         }},
        {"RemoveCosmosDBContainer", [](auto& b) { return Fails(b.RemoveCosmosDBContainer("a", "b", true, "c", "d")); }},
        {"StartCosmosDBRestore", [](auto& b) { return Fails(b.StartCosmosDBRestore(1, "a")); }},
        {"AddCosmosDBRestoreItems", [](auto& b) { return Fails(b.AddCosmosDBRestoreItems({{"x"}, {"y"}})); }},
        {"AddCosmosDBRestoreItem", [](auto& b) { return Fails(b.AddCosmosDBRestoreItem("x")); }},
        {"FlushCosmosDBRestore", [](auto& b) { return Fails(b.FlushCosmosDBRestore()); }},
        {"RestoreAttachedScripts", [](auto& b) { return Fails(b.RestoreAttachedScripts("a", true)); }},
        {"RemoveAllTriggers", [](auto& b) { return Fails(b.RemoveAllTriggers()); }},
        {"ChangeCosmosDBThroughput",
         [](auto& b) {
             int n = 5;
             const std::string wrong = Fails(b.ChangeCosmosDBThroughput(1, 2, n));
             return wrong.empty() && n != -1 ? "out-value not -1" : wrong;
         }},
    };
}

TEST_F(FaultsTest, EveryMethodRaisingOnEightThreadsAtOnceGivesItsFailureResult) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 40;
    const std::vector<FailureCase> methods = AllMethodsFailing();
    ASSERT_EQ(methods.size(), 32u);
    for (const FailureCase& m : methods) {
        TestDouble::Script(m.managedName, "throw", "System.InvalidOperationException");
    }
    std::atomic<int> wrong{0};
    // Collections while exception objects travel as native exceptions.
    reliability::Collector collector;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            CCloudSDKCppBridge own;
            for (int round = 0; round < kRounds; ++round) {
                for (const FailureCase& m : methods) {
                    if (!m.call(round % 2 == 0 ? own : *bridge).empty()) {
                        ++wrong;
                    }
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_GT(collector.Stop(), 0);
    EXPECT_EQ(wrong.load(), 0);
    const int calls = kThreads * kRounds * static_cast<int>(methods.size());
    EXPECT_EQ(CountInLog("Exception caught in bridge - InvalidOperationException"), calls);
    for (const FailureCase& m : methods) {
        EXPECT_EQ(TestDouble::CallCount(m.managedName), kThreads * kRounds) << m.managedName;
    }
    ExpectBridgeWorks();
}

// ---- Exceptions from every managed call of the marshalling ---------------------------------

TEST_F(FaultsTest, FactoryRaisingGivesNoList) {
    EXPECT_EQ(CCloudSDKHelper::CreateList("ThrowingLibHandle"), nullptr);
    EXPECT_EQ(CountInLog("Create list method [CreateThrowingLibList] raised InvalidOperationException"), 1);
    ExpectBridgeWorks();
}

TEST_F(FaultsTest, GetEnumeratorRaisingFailsTheListMethodWithNothingRead) {
    TestDouble::Script("ListCosmosDBContainers", "result", "texts-enumerator-throws:");
    std::vector<SString> texts{{"stale"}};
    EXPECT_FALSE(bridge->ListCosmosDBContainers("a", "b", "c", true, texts));
    EXPECT_TRUE(texts.empty());
    EXPECT_EQ(CountInLog("Enumerator method [GetEnumerator] of [SStringListEnumerator] raised NotSupportedException"), 1);
    ExpectBridgeWorks();
}

TEST_F(FaultsTest, MoveNextRaisingMidwayFailsEveryTextListMethodLeavingItsVectorEmpty) {
    const std::string list = "texts-throw-at:2:first|second|third|fourth";
    for (const char* method : {"ListCosmosDBDatabases", "ListCosmosDBContainers", "GetCosmosDBTokens", "GetCosmosDBData"}) {
        TestDouble::Script(method, "result", list);
    }
    TestDouble::Script("GetCosmosDBData", "ref4", "true");
    std::vector<SString> a{{"kept"}}, b{{"kept"}}, c{{"kept"}}, d{{"kept"}};
    std::string next = "keep";
    bool more = false;
    EXPECT_FALSE(bridge->ListCosmosDBDatabases("x", "y", true, a));
    EXPECT_FALSE(bridge->ListCosmosDBContainers("x", "y", "z", true, b));
    EXPECT_FALSE(bridge->GetCosmosDBTokens(0, c));
    EXPECT_FALSE(bridge->GetCosmosDBData("x", 0, next, more, d));
    for (const auto* texts : {&a, &b, &c, &d}) {
        EXPECT_TRUE(texts->empty());
    }
    EXPECT_EQ(next, "keep");  // a page that broke off delivers no continuation
    EXPECT_EQ(CountInLog("Enumerator method [MoveNext] of [SStringListEnumerator] raised ArgumentOutOfRangeException"),
              4);
    ExpectBridgeWorks();
}

TEST_F(FaultsTest, AccountListRaisingMidwayLeavesNoAccounts) {
    int at = 2;
    int count = 5;
    void* args[] = {&at, &count};
    MonoObject* list = Static("ReliabilityLists", "AccountsThrowingAt", args, 2);
    ASSERT_NE(list, nullptr);
    std::vector<SStorageAccountInfo> accounts{{"stale", "", ""}};
    EXPECT_FALSE(CCloudSDKHelper::ConvertStorageAccountInfoList_ManagedToNative(accounts, list));
    EXPECT_TRUE(accounts.empty());
    EXPECT_EQ(CountInLog("Enumerator method [MoveNext] of [SStorageAccountInfoLibListEnumerator] raised "
                         "TimeoutException"),
              1);
    ExpectBridgeWorks();
}

TEST_F(FaultsTest, CurrentRaisingMidwayLeavesNoTexts) {
    int at = 1;
    void* args[] = {&at, std2gc("a|b|c")};
    MonoObject* list = Static("ReliabilityLists", "CurrentThrowsAt", args, 2);
    ASSERT_NE(list, nullptr);
    std::vector<SString> texts{{"kept"}};
    EXPECT_FALSE(CCloudSDKHelper::ConvertStringList_ManagedToNative(texts, list));
    EXPECT_TRUE(texts.empty());
    EXPECT_EQ(CountInLog("Enumerator method [Current] of [SStringListEnumerator] raised FormatException"), 1);
    ExpectBridgeWorks();
}

TEST_F(FaultsTest, AddRaisingStopsTheFillWithTheElementsAddedBefore) {
    int throwOn = 3;
    void* args[] = {&throwOn};
    MonoObject* list = Static("ReliabilityLists", "AddThrowsOn", args, 1);
    ASSERT_NE(list, nullptr);
    const std::vector<SString> records{{"one"}, {"two"}, {"three"}, {"four"}};
    EXPECT_FALSE(CCloudSDKHelper::ConvertList_NativeToManaged(list, records, static_cast<MonoObject*>(nullptr),
                                                              "SStringLib"));
    void* listArg[] = {list};
    EXPECT_EQ(gc2std(reinterpret_cast<MonoString*>(Static("ReliabilityLists", "TextsOf", listArg, 1))), "one|two|");
    EXPECT_EQ(CountInLog("Add method of class [ReliabilityAddThrowsList] raised OutOfMemoryException"), 1);
    ExpectBridgeWorks();
}

TEST_F(FaultsTest, ElementConstructorRaisingStopsTheFillBeforeAnyAdd) {
    MonoObject* list = CCloudSDKHelper::CreateList("SStringLibHandle");
    ASSERT_NE(list, nullptr);
    EXPECT_FALSE(CCloudSDKHelper::ConvertList_NativeToManaged(list, std::vector<SString>{{"one"}},
                                                              static_cast<MonoObject*>(nullptr),
                                                              "ReliabilityThrowingElement"));
    void* listArg[] = {list};
    EXPECT_EQ(gc2std(reinterpret_cast<MonoString*>(Static("ReliabilityLists", "TextsOf", listArg, 1))), "");
    EXPECT_EQ(CountInLog("Constructor of class [ReliabilityThrowingElement] in CloudSDKWrapper raised "
                         "ArgumentNullException"),
              1);
    ExpectBridgeWorks();
}

TEST_F(FaultsTest, DateTimeReadsNeverRunAForeignTicksGetterAndCoverTheWholeRange) {
    MonoObject* dates = NewManagedObjectAzure("ReliabilityDates", true);
    ASSERT_NE(dates, nullptr);
    MonoClass* klass = MonoAPI::mono_object_get_class_ptr(dates);
    // A value type with a raising "Ticks" is refused before its getter could run.
    EXPECT_EQ(GetDateTimeFieldValue(klass, dates, "dtThrowing"), 0);
    EXPECT_EQ(CountInLog("Value of class [ReliabilityTicks] is not a datetime"), 1);
    EXPECT_EQ(CountInLog("Ticks getter raised"), 0);
    // 9999-12-31 23:59:59.9999999 and 0001-01-01 00:00:00.
    EXPECT_EQ(GetDateTimeFieldValue(klass, dates, "dtMax"), 253402300799);
    EXPECT_EQ(GetDateTimeFieldValue(klass, dates, "dtMin"), -62135596800);
    ExpectBridgeWorks();
}

// ---- Results of the wrong type ---------------------------------------------------------------

TEST_F(FaultsTest, ListMethodsAnsweringWithAnotherKindOfObjectFail) {
    // Each list method answers with a Boolean, a string, and the other kind of list.
    const char* const textMethods[] = {"ListCosmosDBDatabases", "ListCosmosDBContainers", "GetCosmosDBTokens",
                                       "GetCosmosDBData"};
    const char* const accountMethods[] = {"GetDatabaseAccountInfoList", "GetDatabaseAccountInfoListForRegion"};
    int failures = 0;
    for (const char* answer : {"true", "string:not a list", "other"}) {
        TestDouble::Reset();
        TestDouble::Script("GetCosmosDBData", "ref4", "true");
        for (const char* m : textMethods) {
            TestDouble::Script(m, "result", std::string(answer) == "other" ? "accounts:n,t,l" : answer);
        }
        for (const char* m : accountMethods) {
            TestDouble::Script(m, "result", std::string(answer) == "other" ? "texts:a|b" : answer);
        }
        std::vector<SString> texts{{"stale"}};
        std::vector<SStorageAccountInfo> accounts{{"stale", "", ""}};
        std::string next = "keep";
        bool more = false;
        failures += !bridge->ListCosmosDBDatabases("a", "b", true, texts);
        failures += !bridge->ListCosmosDBContainers("a", "b", "c", true, texts);
        failures += !bridge->GetCosmosDBTokens(0, texts);
        failures += !bridge->GetCosmosDBData("a", 0, next, more, texts);
        failures += !bridge->GetDatabaseAccountInfoList("a", CosmosDBBrowseKind1, accounts);
        failures += !bridge->GetDatabaseAccountInfoListForRegion("a", CosmosDBBrowseKind1, accounts);
        EXPECT_EQ(next, "keep") << answer;
        EXPECT_TRUE(texts.empty()) << answer;
        EXPECT_TRUE(accounts.empty()) << answer;
    }
    EXPECT_EQ(failures, 18);
    // The enumerators cannot take the object for their list: an exception, caught and named.
    EXPECT_EQ(CountInLog("raised InvalidCastException"), 18) << testsupport::ReadLog();
    ExpectBridgeWorks();
}

// ---- A managed method that blocks --------------------------------------------------------------

TEST_F(FaultsTest, BlockingManagedMethodHoldsUpOnlyItsOwnCall) {
    constexpr int kBlockMs = 2000;
    TestDouble::Script("CountItems", "block", std::to_string(kBlockMs));
    TestDouble::Script("CountItems", "ref1", "77");
    std::atomic<bool> blockedReturned{false};
    long long count = 0;
    bool blockedResult = false;
    const auto start = std::chrono::steady_clock::now();
    std::thread blocked([&] {
        blockedResult = bridge->CountItems(count);  // the same bridge the others use
        blockedReturned = true;
    });
    while (TestDouble::CallCount("CountItems") == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // Meanwhile: calls on the same and on other bridges, from several threads, and
    // collections, which must not wait for the sleeping thread.
    std::atomic<int> done{0};
    std::vector<std::thread> others;
    for (int t = 0; t < 3; ++t) {
        others.emplace_back([&, t] {
            CCloudSDKCppBridge own;
            for (int i = 0; i < 500; ++i) {
                std::vector<SString> texts;
                if ((t == 0 ? *bridge : own).ListCosmosDBDatabases("a", "k", true, texts) && own.CheckConnection()) {
                    ++done;
                }
            }
        });
    }
    reliability::CollectFully();
    for (auto& thread : others) {
        thread.join();
    }
    const bool othersFinishedFirst = !blockedReturned.load();
    blocked.join();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(done.load(), 1500);
    EXPECT_TRUE(othersFinishedFirst) << "the other calls waited for the blocked one";
    EXPECT_TRUE(blockedResult);
    EXPECT_EQ(count, 77);
    EXPECT_GE(took, std::chrono::milliseconds(kBlockMs));
}

}  // namespace
