#pragma once

// libCloudSDKCppBridge: a native class interface to the cloud operations that back up and
// restore Azure Cosmos DB containers, carried out by a managed wrapper assembly running in
// an embedded Mono runtime.
//
// Contract
// - The first bridge object constructed in the process starts the runtime on a thread of
//   its own and loads CloudSDKWrapper/ZRCloudSDKWrapper.dll under the home directory
//   (CLOUDSDK_HOME, else the directory of this library). The runtime is never shut down.
// - Each bridge object owns one managed wrapper object; every method forwards to the
//   managed method of the same name on it. Failures show as false, an empty text or an
//   untouched out-value; the reason is in the log. A managed exception never reaches the
//   host: it is logged under the method's signature and the method returns false.
// - The host owns its bridge objects and all out-values. Any thread may construct and call
//   bridge objects; calls are not serialised by the library, also not on one object.
// - Log: CLOUDSDK_LOG names the file (else standard error); CLOUDSDK_LOG_LEVEL 0, 1 or 2.

#include <CloudSDKCppBridge/CloudWrapperPtr.h>
#include <CloudSDKCppBridge/Export.h>
#include <CloudSDKCppBridge/MonoTypes.h>
#include <CloudSDKCppBridge/Records.h>
#include <CloudSDKCppBridge/Utility.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace CloudSDKCppBridge {

class CLOUDSDK_API CCloudSDKCppBridge {
public:
    CCloudSDKCppBridge();
    ~CCloudSDKCppBridge();
    CCloudSDKCppBridge(const CCloudSDKCppBridge&) = delete;
    CCloudSDKCppBridge& operator=(const CCloudSDKCppBridge&) = delete;

    // Setup and connection
    bool Initialize(const std::string& strIn1, const std::string& strIn2, unsigned long long ullIn, int nUnused);
    bool Connect(const std::string& strIn1, const std::string& strIn2, const std::string& strIn3);
    void SetWebProxy(const std::string& strIn1, const std::string& strIn2, const std::string& strIn3);
    void UseStdout();
    void Disconnect();
    bool CheckConnection();
    std::string GetLastErrorString();
    void SetAssemblyResolverDisabled(bool bDisabled);
    bool GetAssemblyResolverDisabled();

    // Account and catalogue browsing
    bool GetDatabaseAccountInfoList(const std::string& strIn, CosmosDBAccountBrowseType eBrowseType,
                                    std::vector<SStorageAccountInfo>& vecAccounts);
    bool GetDatabaseAccountInfoListForRegion(const std::string& strIn, CosmosDBAccountBrowseType eBrowseType,
                                             std::vector<SStorageAccountInfo>& vecAccounts);
    bool GetCosmosDBAuthenticationInfo(const std::string& strIn, std::string& strOut1, std::string& strOut2);
    bool ListCosmosDBDatabases(const std::string& strIn1, const std::string& strIn2, bool bOption,
                               std::vector<SString>& vecDatabases);
    bool ListCosmosDBContainers(const std::string& strIn1, const std::string& strIn2, const std::string& strIn3,
                                bool bOption, std::vector<SString>& vecContainers);

    // Container reads for backup
    bool OpenCosmosDBContainer(const std::string& strIn1, const std::string& strIn2, bool bOption,
                               const std::string& strIn3, const std::string& strIn4);
    bool DescribeCosmosDBContainer(std::string& strOut1, CosmosDBThroughput& throughput, std::string& strOut2);
    bool CountItems(long long& llCount);
    bool ObtainContainerStatistics(long long& llOut1, long long& llOut2, std::string& strOut);
    bool IsEmpty(bool& bEmpty);
    bool GetCosmosDBTokens(long long llIn, std::vector<SString>& vecTokens);
    bool GetCosmosDBData(const std::string& strIn, long long llIn, std::string& strOut, bool& bOut,
                         std::vector<SString>& vecData);
    bool BackupAttachedScripts(bool bOption, int& nOut, std::string& strOut);
    // GetCosmosDBData's read with the page as one UTF-8 buffer (one crossing per page, no
    // text per item). Fails, with `page` emptied, when the managed page is not laid out right.
    bool GetCosmosDBPage(const std::string& strIn, long long llIn, std::string& strOut, bool& bOut, SItemPage& page);

    // Restore and administration
    bool CreateCosmosDBDatabase(const std::string& strIn1, const std::string& strIn2, bool bOption1,
                                const std::string& strIn3, int nIn1, int nIn2, bool bOption2);
    bool CreateCosmosDBContainer(const std::string& strIn1, const std::string& strIn2, bool bOption1,
                                 const std::string& strIn3, const std::string& strIn4, const std::string& strIn5,
                                 CosmosDBThroughput& throughput, bool bOption2);
    bool RemoveCosmosDBContainer(const std::string& strIn1, const std::string& strIn2, bool bOption,
                                 const std::string& strIn3, const std::string& strIn4);
    bool StartCosmosDBRestore(int nIn, const std::string& strIn);
    bool AddCosmosDBRestoreItems(const std::vector<SString>& vecItems);
    bool AddCosmosDBRestoreItem(const std::string& strItem);
    bool FlushCosmosDBRestore();
    bool RestoreAttachedScripts(const std::string& strIn, bool bOption);
    bool RemoveAllTriggers();
    bool ChangeCosmosDBThroughput(int nIn1, int nIn2, int& nOut);

private:
    std::unique_ptr<CCloudWrapperPtr> m_wrapper;
};

}  // namespace CloudSDKCppBridge

// Process-wide state, set once by the runtime start-up.
extern CLOUDSDK_API MonoDomain* g_domain;
extern CLOUDSDK_API MonoImage* g_image;
extern CLOUDSDK_API std::string g_AzuremonoVersion;
extern CLOUDSDK_API EvDebug g_debug;

// The exported helpers below attach the calling thread to the runtime themselves; before
// the runtime is up (no bridge constructed yet, or its start failed) each gives its failure
// value: null, 0, false, true for IsStringFieldEmpty, or an empty text.

// Text crossing (UTF-8 native, UTF-16 managed). Invalid sequences become U+FFFD; a zero
// byte ends the native text.
CLOUDSDK_API MonoString* std2gc(const std::string& s);
CLOUDSDK_API std::string gc2std(MonoString* s);

// Logs a managed exception by its class name under `where`.
CLOUDSDK_API void LogException(const char* where, MonoObject* exception);

// Managed objects and fields. Classes are looked up in namespace "CloudSDKWrapper" of the
// wrapper assembly. A field of reference type is written only with null or an object of
// its type; a field of value type takes the address of a native value of its width.
CLOUDSDK_API MonoObject* NewManagedObjectAzure(const char* className, bool runConstructor);
CLOUDSDK_API MonoObject* NewManagedDateTime();
CLOUDSDK_API MonoArray* NewManagedArray(const char* className, int length);
CLOUDSDK_API void* GetFieldValue(MonoClass* klass, MonoObject* object, const char* fieldName);
CLOUDSDK_API std::string GetStringFieldValue(MonoClass* klass, MonoObject* object, const char* fieldName);
CLOUDSDK_API time_t GetDateTimeFieldValue(MonoClass* klass, MonoObject* object, const char* fieldName);
CLOUDSDK_API MonoObject* GetStructFieldValue(MonoClass* klass, MonoObject* object, const char* fieldName);
CLOUDSDK_API bool GetBoolFieldValue(MonoClass* klass, MonoObject* object, const char* fieldName);
CLOUDSDK_API int GetIntFieldValue(MonoClass* klass, MonoObject* object, const char* fieldName);
CLOUDSDK_API long long GetLongFieldValue(MonoClass* klass, MonoObject* object, const char* fieldName);
CLOUDSDK_API bool IsStringFieldEmpty(MonoObject* object, const char* fieldName);
CLOUDSDK_API void SetFieldValue(MonoClass* klass, MonoObject* object, const char* fieldName, void* value);

// Diagnostics written to the log.
CLOUDSDK_API void LogNotPorted(const char* name);
CLOUDSDK_API void DumpClasses();
CLOUDSDK_API void DumpClassMethods(MonoClass* klass);
CLOUDSDK_API void DumpClassFields(MonoClass* klass);
CLOUDSDK_API void DumpMethod(MonoMethod* method);
// The next class of `image` in TypeDef order (the module row skipped), or null at the end.
// `*iter` is the caller's cursor: null before the first call, reset to null at the end.
extern "C" CLOUDSDK_API MonoClass* mono_image_get_classes(MonoImage* image, void** iter);
