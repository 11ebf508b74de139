#include "MethodCases.h"

#include "support/TestDouble.h"

using namespace CloudSDKCppBridge;
using testsupport::TestDouble;

namespace reliability {

namespace {

std::string Expect(bool ok, const char* what) { return ok ? std::string() : std::string(what); }

std::string Texts(const std::vector<SString>& texts) {
    std::string joined;
    for (const SString& t : texts) {
        joined += t.strValue + "|";
    }
    return joined;
}

}  // namespace

// What each scripted method answers during the concurrent phase. Fixed for the whole
// phase, so every call of a method has one right answer.
void ScriptAnswers() {
    TestDouble::Reset();
    TestDouble::Script("GetLastErrorString", "result", "string:caf\\u00e9 \\uD83D\\uDE00");
    TestDouble::Script("getAssemblyResolverDisabled", "result", "false");
    TestDouble::Script("GetDatabaseAccountInfoList", "result", "accounts:a1,Sql,westeurope|a2,Mongo,northeurope");
    TestDouble::Script("GetDatabaseAccountInfoListForRegion", "result", "accounts:r1,Sql,eastus");
    TestDouble::Script("GetCosmosDBAuthenticationInfo", "ref2", "https://endpoint/");
    TestDouble::Script("GetCosmosDBAuthenticationInfo", "ref3", "key==");
    TestDouble::Script("ListCosmosDBDatabases", "result", "texts:db1|db2|\\u00fc");
    TestDouble::Script("ListCosmosDBContainers", "result", "texts:c1|c2");
    TestDouble::Script("DescribeCosmosDBContainer", "ref1", "/pk");
    TestDouble::Script("DescribeCosmosDBContainer", "ref2", "400");
    TestDouble::Script("DescribeCosmosDBContainer", "ref5", "-4");
    TestDouble::Script("DescribeCosmosDBContainer", "ref6", "policy");
    TestDouble::Script("CountItems", "ref1", "123456789012");
    TestDouble::Script("ObtainContainerStatistics", "ref1", "11");
    TestDouble::Script("ObtainContainerStatistics", "ref2", "22");
    TestDouble::Script("ObtainContainerStatistics", "ref3", "stats");
    TestDouble::Script("IsEmpty", "ref1", "true");
    TestDouble::Script("GetCosmosDBTokens", "result", "texts:t1|t2");
    TestDouble::Script("GetCosmosDBData", "ref3", "continuation");
    TestDouble::Script("GetCosmosDBData", "ref4", "true");
    TestDouble::Script("GetCosmosDBData", "result", "texts:d1|d2|d3");
    TestDouble::Script("BackupAttachedScripts", "ref2", "3");
    TestDouble::Script("BackupAttachedScripts", "ref3", "scripts");
    TestDouble::Script("CreateCosmosDBContainer", "ref7", "4000");
    TestDouble::Script("CreateCosmosDBContainer", "ref8", "5");
    TestDouble::Script("FlushCosmosDBRestore", "result", "false");
    TestDouble::Script("ChangeCosmosDBThroughput", "ref3", "800");
}

std::vector<MethodCase> AllMethods() {
    return {
        {"Initialize", [](auto& b, auto& tag) { return Expect(b.Initialize(tag, tag + "/dir", 7, 0), "result"); }},
        {"Connect", [](auto& b, auto& tag) { return Expect(b.Connect(tag + "-a", tag + "-k", tag + "-o"), "result"); }},
        {"SetWebProxy", [](auto& b, auto& tag) { b.SetWebProxy(tag, "user", "password"); return std::string(); }},
        {"UseStdout", [](auto& b, auto&) { b.UseStdout(); return std::string(); }},
        {"Disconnect", [](auto& b, auto&) { b.Disconnect(); return std::string(); }},
        {"CheckConnection", [](auto& b, auto&) { return Expect(b.CheckConnection(), "result"); }},
        {"GetLastErrorString",
         [](auto& b, auto&) { return Expect(b.GetLastErrorString() == "caf\xC3\xA9 \xF0\x9F\x98\x80", "text"); }},
        {"setAssemblyResolverDisabled",
         [](auto& b, auto&) { b.SetAssemblyResolverDisabled(true); return std::string(); }},
        {"getAssemblyResolverDisabled",
         [](auto& b, auto&) { return Expect(!b.GetAssemblyResolverDisabled(), "result"); }},
        {"GetDatabaseAccountInfoList",
         [](auto& b, auto& tag) {
             std::vector<SStorageAccountInfo> v{{"old", "", ""}};
             const bool r = b.GetDatabaseAccountInfoList(tag, CosmosDBBrowseKind1, v);
             return Expect(r && v.size() == 2 && v[0].strName == "a1" && v[1].strLocation == "northeurope",
                           "accounts");
         }},
        {"GetDatabaseAccountInfoListForRegion",
         [](auto& b, auto& tag) {
             std::vector<SStorageAccountInfo> v;
             const bool r = b.GetDatabaseAccountInfoListForRegion(tag, CosmosDBBrowseKind2, v);
             return Expect(r && v.size() == 1 && v[0].strAccountType == "Sql", "accounts");
         }},
        {"GetCosmosDBAuthenticationInfo",
         [](auto& b, auto& tag) {
             std::string endpoint, key;
             const bool r = b.GetCosmosDBAuthenticationInfo(tag, endpoint, key);
             return Expect(r && endpoint == "https://endpoint/" && key == "key==", "texts");
         }},
        {"ListCosmosDBDatabases",
         [](auto& b, auto& tag) {
             std::vector<SString> v;
             const bool r = b.ListCosmosDBDatabases(tag, "key", true, v);
             return Expect(r && Texts(v) == "db1|db2|\xC3\xBC|", "list");
         }},
        {"ListCosmosDBContainers",
         [](auto& b, auto& tag) {
             std::vector<SString> v{{"stale"}};
             const bool r = b.ListCosmosDBContainers(tag, "key", "db", false, v);
             return Expect(r && Texts(v) == "c1|c2|", "list");
         }},
        {"OpenCosmosDBContainer",
         [](auto& b, auto& tag) { return Expect(b.OpenCosmosDBContainer(tag, "k", true, "db", "c"), "result"); }},
        {"DescribeCosmosDBContainer",
         [](auto& b, auto&) {
             std::string pk, policy;
             CosmosDBThroughput t{1, 2, 3, 4};
             const bool r = b.DescribeCosmosDBContainer(pk, t, policy);
             return Expect(r && pk == "/pk" && policy == "policy" && t.nValue1 == 400 && t.nValue2 == 2 &&
                               t.nValue4 == -4,
                           "out-values");
         }},
        {"CountItems",
         [](auto& b, auto&) {
             long long n = 0;
             return Expect(b.CountItems(n) && n == 123456789012LL, "count");
         }},
        {"ObtainContainerStatistics",
         [](auto& b, auto&) {
             long long a = 0, c = 0;
             std::string s;
             return Expect(b.ObtainContainerStatistics(a, c, s) && a == 11 && c == 22 && s == "stats", "statistics");
         }},
        {"IsEmpty",
         [](auto& b, auto&) {
             bool empty = false;
             return Expect(b.IsEmpty(empty) && empty, "flag");
         }},
        {"GetCosmosDBTokens",
         [](auto& b, auto&) {
             std::vector<SString> v;
             return Expect(b.GetCosmosDBTokens(-1, v) && Texts(v) == "t1|t2|", "tokens");
         }},
        {"GetCosmosDBData",
         [](auto& b, auto& tag) {
             std::string next;
             bool more = true;
             std::vector<SString> v;
             const bool r = b.GetCosmosDBData(tag, 100, next, more, v);
             return Expect(r && next == "continuation" && !more && Texts(v) == "d1|d2|d3|", "page");
         }},
        {"BackupAttachedScripts",
         [](auto& b, auto&) {
             int n = 0;
             std::string s;
             return Expect(b.BackupAttachedScripts(true, n, s) && n == 3 && s == "scripts", "scripts");
         }},
        {"CreateCosmosDBDatabase",
         [](auto& b, auto& tag) { return Expect(b.CreateCosmosDBDatabase(tag, "k", true, "db", 400, 0, false), "result"); }},
        {"CreateCosmosDBContainer",
         [](auto& b, auto& tag) {
             CosmosDBThroughput t{1, 2, 3, 4};
             const bool r = b.CreateCosmosDBContainer(tag, "k", false, "db", "c", "/pk", t, true);
             return Expect(r && t.nValue1 == 4000 && t.nValue2 == 5 && t.nValue3 == 3, "throughput");
         }},
        {"RemoveCosmosDBContainer",
         [](auto& b, auto& tag) { return Expect(b.RemoveCosmosDBContainer(tag, "k", true, "db", "c"), "result"); }},
        {"StartCosmosDBRestore", [](auto& b, auto& tag) { return Expect(b.StartCosmosDBRestore(2, tag), "result"); }},
        {"AddCosmosDBRestoreItems",
         [](auto& b, auto& tag) { return Expect(b.AddCosmosDBRestoreItems({{tag}, {"{}"}}), "result"); }},
        {"AddCosmosDBRestoreItem", [](auto& b, auto& tag) { return Expect(b.AddCosmosDBRestoreItem(tag), "result"); }},
        {"FlushCosmosDBRestore", [](auto& b, auto&) { return Expect(!b.FlushCosmosDBRestore(), "result"); }},
        {"RestoreAttachedScripts",
         [](auto& b, auto& tag) { return Expect(b.RestoreAttachedScripts(tag, false), "result"); }},
        {"RemoveAllTriggers", [](auto& b, auto&) { return Expect(b.RemoveAllTriggers(), "result"); }},
        {"ChangeCosmosDBThroughput",
         [](auto& b, auto&) {
             int now = 0;
             return Expect(b.ChangeCosmosDBThroughput(800, 0, now) && now == 800, "throughput");
         }},
    };
}

void CallEveryMethodWithText(CCloudSDKCppBridge& b, const std::string& t) {
    std::vector<SStorageAccountInfo> accounts;
    std::vector<SString> texts;
    std::string out1, out2;
    bool flag = false;
    long long n1 = 0, n2 = 0;
    int n = 0;
    CosmosDBThroughput throughput{};
    b.Initialize(t, t, 1, 0);
    b.Connect(t, t, t);
    b.SetWebProxy(t, t, t);
    b.UseStdout();
    b.Disconnect();
    b.CheckConnection();
    b.GetLastErrorString();
    b.SetAssemblyResolverDisabled(true);
    b.GetAssemblyResolverDisabled();
    b.GetDatabaseAccountInfoList(t, CosmosDBBrowseKind1, accounts);
    b.GetDatabaseAccountInfoListForRegion(t, CosmosDBBrowseKind2, accounts);
    b.GetCosmosDBAuthenticationInfo(t, out1, out2);
    b.ListCosmosDBDatabases(t, t, true, texts);
    b.ListCosmosDBContainers(t, t, t, true, texts);
    b.OpenCosmosDBContainer(t, t, true, t, t);
    b.DescribeCosmosDBContainer(out1, throughput, out2);
    b.CountItems(n1);
    b.ObtainContainerStatistics(n1, n2, out1);
    b.IsEmpty(flag);
    b.GetCosmosDBTokens(1, texts);
    b.GetCosmosDBData(t, 1, out1, flag, texts);
    b.BackupAttachedScripts(true, n, out1);
    b.CreateCosmosDBDatabase(t, t, true, t, 1, 2, true);
    b.CreateCosmosDBContainer(t, t, true, t, t, t, throughput, true);
    b.RemoveCosmosDBContainer(t, t, true, t, t);
    b.StartCosmosDBRestore(1, t);
    b.AddCosmosDBRestoreItems({{t}, {t + "\xFF"}, {t}});
    b.AddCosmosDBRestoreItem(t);
    b.FlushCosmosDBRestore();
    b.RestoreAttachedScripts(t, true);
    b.RemoveAllTriggers();
    b.ChangeCosmosDBThroughput(1, 2, n);
}

}  // namespace reliability
