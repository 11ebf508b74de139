// The bridge object, its setup and connection methods and the browsing methods. Each
// method forwards to the managed method of the same name; see BridgeCall.h for the
// pattern they share.

#include <CloudSDKCppBridge.h>

#include "bridge/BridgeCall.h"
#include "bridge/ListResult.h"
#include "bridge/Signatures.h"
#include "platform/UbSleep.h"

#include <unistd.h>

#include <cstdint>

namespace CloudSDKCppBridge {

using bridge::Arguments;
using bridge::ByRef;
using bridge::Call;
using bridge::kNoArguments;
using bridge::Text;
using bridge::ReadAccounts;
using bridge::ReadTexts;

namespace {

// The code the managed side takes for a kind of account list; unknown kinds select 0.
int64_t cosmosBrowseType(CosmosDBAccountBrowseType eBrowseType) {
    switch (eBrowseType) {
        case CosmosDBBrowseKind1: return 1;
        case CosmosDBBrowseKind2: return 2;
        default: return 0;
    }
}

// While a file of this name exists in the working directory, account listing waits. The
// name holds a backslash and no slash, so it names one entry of the working directory.
constexpr const char* kHoldFile = "c:\\cloudinfo.sleep";
constexpr unsigned kHoldFilePollMs = 2000;

void WaitWhileHoldFileExists() {
    while (access(kHoldFile, F_OK) == 0) {
        UBSLEEP_InTeRnAl(kHoldFilePollMs, __FILE__, __LINE__);
    }
}

}  // namespace

CCloudSDKCppBridge::CCloudSDKCppBridge() : m_wrapper(std::make_unique<CCloudWrapperPtr>()) {}

CCloudSDKCppBridge::~CCloudSDKCppBridge() { m_wrapper.reset(); }

// ---- Setup and connection ----------------------------------------------------------------

bool CCloudSDKCppBridge::Initialize(const std::string& strIn1, const std::string& strIn2, unsigned long long ullIn,
                                    int /*nUnused: not passed on*/) {
    if (!m_wrapper->Init()) {
        g_debug.error("Failed to initialize CloudSDKWrapper");
        return false;
    }
    return Call(*m_wrapper, signature::Initialize, [&](bool up) {
        Arguments args(Text(up, strIn1), Text(up, strIn2), uint64_t{ullIn});
        return m_wrapper->Invoke(false, "Initialize", args);
    });
}

bool CCloudSDKCppBridge::Connect(const std::string& strIn1, const std::string& strIn2, const std::string& strIn3) {
    return Call(*m_wrapper, signature::Connect, [&](bool up) {
        Arguments args(Text(up, strIn1), Text(up, strIn2), Text(up, strIn3));
        return m_wrapper->Invoke(false, "Connect", args);
    });
}

void CCloudSDKCppBridge::SetWebProxy(const std::string& strIn1, const std::string& strIn2,
                                     const std::string& strIn3) {
    Call(*m_wrapper, signature::SetWebProxy, [&](bool up) {
        Arguments args(Text(up, strIn1), Text(up, strIn2), Text(up, strIn3));
        m_wrapper->Invoke("SetWebProxy", args);
    });
}

void CCloudSDKCppBridge::UseStdout() {
    Call(*m_wrapper, signature::UseStdout, [&](bool) {
        m_wrapper->Invoke("UseStdout", kNoArguments);
    });
}

void CCloudSDKCppBridge::Disconnect() {
    Call(*m_wrapper, signature::Disconnect, [&](bool) {
        m_wrapper->Invoke("Disconnect", kNoArguments);
    });
}

bool CCloudSDKCppBridge::CheckConnection() {
    return Call(*m_wrapper, signature::CheckConnection, [&](bool) {
        return m_wrapper->Invoke(false, "CheckConnection", kNoArguments);
    });
}

std::string CCloudSDKCppBridge::GetLastErrorString() {
    return Call(*m_wrapper, signature::GetLastErrorString, [&](bool up) {
        if (!up) {
            return std::string("Mono framework is not initialized");
        }
        std::string text;
        m_wrapper->Invoke(text, "GetLastErrorString", kNoArguments);
        return text;
    });
}

void CCloudSDKCppBridge::SetAssemblyResolverDisabled(bool bDisabled) {
    Call(*m_wrapper, signature::SetAssemblyResolverDisabled, [&](bool) {
        Arguments args(bDisabled);
        m_wrapper->Invoke("setAssemblyResolverDisabled", args);
    });
}

bool CCloudSDKCppBridge::GetAssemblyResolverDisabled() {
    return Call(*m_wrapper, signature::GetAssemblyResolverDisabled, [&](bool) {
        return m_wrapper->Invoke(false, "getAssemblyResolverDisabled", kNoArguments);
    });
}

// ---- Account and catalogue browsing ---------------------------------------------------------

bool CCloudSDKCppBridge::GetDatabaseAccountInfoList(const std::string& strIn, CosmosDBAccountBrowseType eBrowseType,
                                                    std::vector<SStorageAccountInfo>& vecAccounts) {
    WaitWhileHoldFileExists();
    return Call(*m_wrapper, signature::GetDatabaseAccountInfoList, [&](bool up) {
        Arguments args(Text(up, strIn), cosmosBrowseType(eBrowseType), int32_t{0});
        return ReadAccounts(m_wrapper->Invoke("GetDatabaseAccountInfoList", args), vecAccounts);
    });
}

bool CCloudSDKCppBridge::GetDatabaseAccountInfoListForRegion(const std::string& strIn,
                                                             CosmosDBAccountBrowseType eBrowseType,
                                                             std::vector<SStorageAccountInfo>& vecAccounts) {
    return Call(*m_wrapper, signature::GetDatabaseAccountInfoListForRegion, [&](bool up) {
        Arguments args(Text(up, strIn), cosmosBrowseType(eBrowseType), int32_t{0});
        return ReadAccounts(m_wrapper->Invoke("GetDatabaseAccountInfoListForRegion", args), vecAccounts);
    });
}

bool CCloudSDKCppBridge::GetCosmosDBAuthenticationInfo(const std::string& strIn, std::string& strOut1,
                                                       std::string& strOut2) {
    return Call(*m_wrapper, signature::GetCosmosDBAuthenticationInfo, [&](bool up) {
        MonoString* slotA = nullptr;
        MonoString* slotB = nullptr;
        Arguments args(Text(up, strIn), ByRef(slotA), ByRef(slotB));
        if (!m_wrapper->Invoke(false, "GetCosmosDBAuthenticationInfo", args)) {
            return false;
        }
        strOut1 = cloudsdk::NativeText(slotA);
        strOut2 = cloudsdk::NativeText(slotB);
        return true;
    });
}

bool CCloudSDKCppBridge::ListCosmosDBDatabases(const std::string& strIn1, const std::string& strIn2, bool bOption,
                                               std::vector<SString>& vecDatabases) {
    return Call(*m_wrapper, signature::ListCosmosDBDatabases, [&](bool up) {
        Arguments args(Text(up, strIn1), Text(up, strIn2), bOption);
        return ReadTexts(m_wrapper->Invoke("ListCosmosDBDatabases", args), vecDatabases);
    });
}

bool CCloudSDKCppBridge::ListCosmosDBContainers(const std::string& strIn1, const std::string& strIn2,
                                                const std::string& strIn3, bool bOption,
                                                std::vector<SString>& vecContainers) {
    return Call(*m_wrapper, signature::ListCosmosDBContainers, [&](bool up) {
        Arguments args(Text(up, strIn1), Text(up, strIn2), Text(up, strIn3), bOption);
        return ReadTexts(m_wrapper->Invoke("ListCosmosDBContainers", args), vecContainers);
    });
}

}  // namespace CloudSDKCppBridge
