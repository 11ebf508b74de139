#pragma once

// The signature texts under which each bridge method logs a managed exception.

namespace CloudSDKCppBridge::signature {

#define CLOUDSDK_BRIDGE "CloudSDKCppBridge::CCloudSDKCppBridge::"

// Setup and connection
constexpr const char* Initialize =
    "bool " CLOUDSDK_BRIDGE "Initialize(const string&, const string&, long long unsigned int, int)";
constexpr const char* Connect = "bool " CLOUDSDK_BRIDGE "Connect(const string&, const string&, const string&)";
constexpr const char* SetWebProxy = "void " CLOUDSDK_BRIDGE "SetWebProxy(const string&, const string&, const string&)";
constexpr const char* UseStdout = "void " CLOUDSDK_BRIDGE "UseStdout()";
constexpr const char* Disconnect = "void " CLOUDSDK_BRIDGE "Disconnect()";
constexpr const char* CheckConnection = "bool " CLOUDSDK_BRIDGE "CheckConnection()";
constexpr const char* GetLastErrorString = "std::string " CLOUDSDK_BRIDGE "GetLastErrorString()";
constexpr const char* SetAssemblyResolverDisabled = "void " CLOUDSDK_BRIDGE "SetAssemblyResolverDisabled(bool)";
constexpr const char* GetAssemblyResolverDisabled = "bool " CLOUDSDK_BRIDGE "GetAssemblyResolverDisabled()";

// Account and catalogue browsing
constexpr const char* GetDatabaseAccountInfoList =
    "bool " CLOUDSDK_BRIDGE "GetDatabaseAccountInfoList(const string&, CloudSDKCppBridge::CosmosDBAccountBrowseType, "
    "std::vector<CloudSDKCppBridge::SStorageAccountInfo>&)";
constexpr const char* GetDatabaseAccountInfoListForRegion =
    "bool " CLOUDSDK_BRIDGE
    "GetDatabaseAccountInfoListForRegion(const string&, CloudSDKCppBridge::CosmosDBAccountBrowseType, "
    "std::vector<CloudSDKCppBridge::SStorageAccountInfo>&)";
constexpr const char* GetCosmosDBAuthenticationInfo =
    "bool " CLOUDSDK_BRIDGE "GetCosmosDBAuthenticationInfo(const string&, std::string&, std::string&)";
constexpr const char* ListCosmosDBDatabases =
    "bool " CLOUDSDK_BRIDGE
    "ListCosmosDBDatabases(const string&, const string&, bool, std::vector<CloudSDKCppBridge::SString>&)";
constexpr const char* ListCosmosDBContainers =
    "bool " CLOUDSDK_BRIDGE
    "ListCosmosDBContainers(const string&, const string&, const string&, bool, "
    "std::vector<CloudSDKCppBridge::SString>&)";

// Container reads for backup
constexpr const char* OpenCosmosDBContainer =
    "bool " CLOUDSDK_BRIDGE "OpenCosmosDBContainer(const string&, const string&, bool, const string&, const string&)";
constexpr const char* DescribeCosmosDBContainer =
    "bool " CLOUDSDK_BRIDGE
    "DescribeCosmosDBContainer(std::string&, CloudSDKCppBridge::CosmosDBThroughput&, std::string&)";
constexpr const char* CountItems = "bool " CLOUDSDK_BRIDGE "CountItems(long long int&)";
constexpr const char* ObtainContainerStatistics =
    "bool " CLOUDSDK_BRIDGE "ObtainContainerStatistics(long long int&, long long int&, std::string&)";
constexpr const char* IsEmpty = "bool " CLOUDSDK_BRIDGE "IsEmpty(bool&)";
constexpr const char* GetCosmosDBTokens =
    "bool " CLOUDSDK_BRIDGE "GetCosmosDBTokens(long long int, std::vector<CloudSDKCppBridge::SString>&)";
constexpr const char* GetCosmosDBData =
    "bool " CLOUDSDK_BRIDGE
    "GetCosmosDBData(const string&, long long int, std::string&, bool&, std::vector<CloudSDKCppBridge::SString>&)";
constexpr const char* GetCosmosDBPage =
    "bool " CLOUDSDK_BRIDGE "GetCosmosDBPage(const string&, long long int, std::string&, bool&, CloudSDKCppBridge::SItemPage&)";
constexpr const char* BackupAttachedScripts =
    "bool " CLOUDSDK_BRIDGE "BackupAttachedScripts(bool, int&, std::string&)";

// Restore and administration
constexpr const char* CreateCosmosDBDatabase =
    "bool " CLOUDSDK_BRIDGE "CreateCosmosDBDatabase(const string&, const string&, bool, const string&, int, int, bool)";
constexpr const char* CreateCosmosDBContainer =
    "bool " CLOUDSDK_BRIDGE
    "CreateCosmosDBContainer(const string&, const string&, bool, const string&, const string&, const string&, "
    "CloudSDKCppBridge::CosmosDBThroughput&, bool)";
constexpr const char* RemoveCosmosDBContainer =
    "bool " CLOUDSDK_BRIDGE
    "RemoveCosmosDBContainer(const string&, const string&, bool, const string&, const string&)";
constexpr const char* StartCosmosDBRestore = "bool " CLOUDSDK_BRIDGE "StartCosmosDBRestore(int, const string&)";
constexpr const char* AddCosmosDBRestoreItems =
    "bool " CLOUDSDK_BRIDGE "AddCosmosDBRestoreItems(const std::vector<CloudSDKCppBridge::SString>&)";
constexpr const char* AddCosmosDBRestoreItem = "bool " CLOUDSDK_BRIDGE "AddCosmosDBRestoreItem(const string&)";
constexpr const char* FlushCosmosDBRestore = "bool " CLOUDSDK_BRIDGE "FlushCosmosDBRestore()";
constexpr const char* RestoreAttachedScripts = "bool " CLOUDSDK_BRIDGE "RestoreAttachedScripts(const string&, bool)";
constexpr const char* RemoveAllTriggers = "bool " CLOUDSDK_BRIDGE "RemoveAllTriggers()";
constexpr const char* ChangeCosmosDBThroughput = "bool " CLOUDSDK_BRIDGE "ChangeCosmosDBThroughput(int, int, int&)";

#undef CLOUDSDK_BRIDGE

}  // namespace CloudSDKCppBridge::signature
