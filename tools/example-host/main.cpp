// An example host: includes only the public header, links only the shared library, calls
// every method of one bridge object and prints what came back.
//
// Run with CLOUDSDK_HOME naming a directory that holds CloudSDKWrapper/ZRCloudSDKWrapper.dll.

#include <CloudSDKCppBridge.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace CloudSDKCppBridge;

namespace {

void Report(const char* method, bool result, const std::string& detail = "") {
    std::printf("%-38s %-5s %s\n", method, result ? "true" : "false", detail.c_str());
}

std::string Join(const std::vector<SString>& texts) {
    std::string joined = "[";
    for (const SString& text : texts) {
        joined += (joined.size() > 1 ? ", \"" : "\"") + text.strValue + "\"";
    }
    return joined + "]";
}

void SetupMethods(CCloudSDKCppBridge& bridge) {
    Report("Initialize", bridge.Initialize("example-host", "/tmp", 1, 0));
    Report("Connect", bridge.Connect("https://localhost:8081/", "key", ""));
    bridge.SetWebProxy("", "", "");
    Report("SetWebProxy", true, "(no result)");
    bridge.UseStdout();
    Report("UseStdout", true, "(no result)");
    Report("CheckConnection", bridge.CheckConnection());
    bridge.SetAssemblyResolverDisabled(false);
    Report("SetAssemblyResolverDisabled", true, "(no result)");
    Report("GetAssemblyResolverDisabled", true, bridge.GetAssemblyResolverDisabled() ? "disabled" : "enabled");
    Report("GetLastErrorString", true, "\"" + bridge.GetLastErrorString() + "\"");
}

void BrowseMethods(CCloudSDKCppBridge& bridge) {
    std::vector<SStorageAccountInfo> accounts;
    Report("GetDatabaseAccountInfoList", bridge.GetDatabaseAccountInfoList("", CosmosDBBrowseDefault, accounts),
           std::to_string(accounts.size()) + " accounts");
    Report("GetDatabaseAccountInfoListForRegion",
           bridge.GetDatabaseAccountInfoListForRegion("westeurope", CosmosDBBrowseKind1, accounts),
           std::to_string(accounts.size()) + " accounts");
    std::string endpoint, key;
    Report("GetCosmosDBAuthenticationInfo", bridge.GetCosmosDBAuthenticationInfo("account", endpoint, key));
    std::vector<SString> texts;
    Report("ListCosmosDBDatabases", bridge.ListCosmosDBDatabases("account", "key", false, texts), Join(texts));
    Report("ListCosmosDBContainers", bridge.ListCosmosDBContainers("account", "key", "db", false, texts), Join(texts));
}

void ContainerReads(CCloudSDKCppBridge& bridge) {
    Report("OpenCosmosDBContainer", bridge.OpenCosmosDBContainer("account", "key", false, "db", "container"));
    std::string partitionKey, policy;
    CosmosDBThroughput throughput{0, 0, 0, 0};
    Report("DescribeCosmosDBContainer", bridge.DescribeCosmosDBContainer(partitionKey, throughput, policy),
           "throughput " + std::to_string(throughput.nValue1));
    long long count = 0;
    Report("CountItems", bridge.CountItems(count), std::to_string(count) + " items");
    long long size = 0, documents = 0;
    std::string statistics;
    Report("ObtainContainerStatistics", bridge.ObtainContainerStatistics(size, documents, statistics));
    bool empty = false;
    Report("IsEmpty", bridge.IsEmpty(empty), empty ? "empty" : "not empty");
    std::vector<SString> tokens;
    Report("GetCosmosDBTokens", bridge.GetCosmosDBTokens(0, tokens), Join(tokens));
    std::string next;
    bool more = false;
    std::vector<SString> items;
    Report("GetCosmosDBData", bridge.GetCosmosDBData("", 0, next, more, items),
           std::to_string(items.size()) + " items" + (more ? ", more follow" : ""));
    CloudSDKCppBridge::SItemPage page;
    Report("GetCosmosDBPage", bridge.GetCosmosDBPage("", 0, next, more, page), std::to_string(page.size()) + " items");
    int scripts = 0;
    std::string scriptText;
    Report("BackupAttachedScripts", bridge.BackupAttachedScripts(true, scripts, scriptText));
}

void RestoreMethods(CCloudSDKCppBridge& bridge) {
    Report("CreateCosmosDBDatabase", bridge.CreateCosmosDBDatabase("account", "key", false, "db", 400, 0, false));
    CosmosDBThroughput throughput{400, 0, 0, 0};
    Report("CreateCosmosDBContainer",
           bridge.CreateCosmosDBContainer("account", "key", false, "db", "container", "/pk", throughput, false));
    Report("StartCosmosDBRestore", bridge.StartCosmosDBRestore(0, "container"));
    Report("AddCosmosDBRestoreItems", bridge.AddCosmosDBRestoreItems({{"{\"id\":\"1\"}"}, {"{\"id\":\"2\"}"}}));
    Report("AddCosmosDBRestoreItem", bridge.AddCosmosDBRestoreItem("{\"id\":\"3\"}"));
    Report("FlushCosmosDBRestore", bridge.FlushCosmosDBRestore());
    Report("RestoreAttachedScripts", bridge.RestoreAttachedScripts("[]", false));
    Report("RemoveAllTriggers", bridge.RemoveAllTriggers());
    int current = 0;
    Report("ChangeCosmosDBThroughput", bridge.ChangeCosmosDBThroughput(800, 0, current));
    Report("RemoveCosmosDBContainer", bridge.RemoveCosmosDBContainer("account", "key", false, "db", "container"));
    bridge.Disconnect();
    Report("Disconnect", true, "(no result)");
}

}  // namespace

int main() {
    CCloudSDKCppBridge bridge;
    std::printf("runtime: %s\n", g_AzuremonoVersion.c_str());
    SetupMethods(bridge);
    BrowseMethods(bridge);
    ContainerReads(bridge);
    RestoreMethods(bridge);
    const bool up = CCloudWrapperPtr::c_AzuremonoInitStatus;
    std::printf("runtime %s; 32 methods and the page read called\n", up ? "up" : "NOT up (see the log)");
    return up ? 0 : 1;
}
