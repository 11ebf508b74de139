// The bridge methods with which the host writes to the cloud side: creation, restore,
// scripts, removal and throughput.

#include <CloudSDKCppBridge.h>

#include "bridge/BridgeCall.h"
#include "bridge/Signatures.h"
#include "marshal/CloudSDKHelper.h"

#include <cstdint>

namespace CloudSDKCppBridge {

using bridge::Arguments;
using bridge::ByRef;
using bridge::Call;
using bridge::kNoArguments;
using bridge::Text;

bool CCloudSDKCppBridge::CreateCosmosDBDatabase(const std::string& strIn1, const std::string& strIn2, bool bOption1,
                                                const std::string& strIn3, int nIn1, int nIn2, bool bOption2) {
    return Call(*m_wrapper, signature::CreateCosmosDBDatabase, [&](bool up) {
        Arguments args(Text(up, strIn1), Text(up, strIn2), bOption1, Text(up, strIn3), int32_t{nIn1}, int32_t{nIn2},
                       bOption2);
        return m_wrapper->Invoke(false, "CreateCosmosDBDatabase", args);
    });
}

bool CCloudSDKCppBridge::CreateCosmosDBContainer(const std::string& strIn1, const std::string& strIn2,
                                                 bool bOption1, const std::string& strIn3, const std::string& strIn4,
                                                 const std::string& strIn5, CosmosDBThroughput& throughput,
                                                 bool bOption2) {
    return Call(*m_wrapper, signature::CreateCosmosDBContainer, [&](bool up) {
        Arguments args(Text(up, strIn1), Text(up, strIn2), bOption1, Text(up, strIn3), Text(up, strIn4),
                       Text(up, strIn5), ByRef(throughput.nValue1), ByRef(throughput.nValue2), bOption2);
        return m_wrapper->Invoke(false, "CreateCosmosDBContainer", args);
    });
}

bool CCloudSDKCppBridge::RemoveCosmosDBContainer(const std::string& strIn1, const std::string& strIn2, bool bOption,
                                                 const std::string& strIn3, const std::string& strIn4) {
    return Call(*m_wrapper, signature::RemoveCosmosDBContainer, [&](bool up) {
        Arguments args(Text(up, strIn1), Text(up, strIn2), bOption, Text(up, strIn3), Text(up, strIn4));
        return m_wrapper->Invoke(false, "RemoveCosmosDBContainer", args);
    });
}

bool CCloudSDKCppBridge::StartCosmosDBRestore(int nIn, const std::string& strIn) {
    return Call(*m_wrapper, signature::StartCosmosDBRestore, [&](bool up) {
        Arguments args(int32_t{nIn}, Text(up, strIn));
        return m_wrapper->Invoke(false, "StartCosmosDBRestore", args);
    });
}

bool CCloudSDKCppBridge::AddCosmosDBRestoreItems(const std::vector<SString>& vecItems) {
    return Call(*m_wrapper, signature::AddCosmosDBRestoreItems, [&](bool up) {
        MonoObject* items = nullptr;
        // A restore must not silently drop items: a list that could not be built whole is
        // not handed over at all.
        if (up && !CloudSDKCppBridgeHelper::CCloudSDKHelper::ConvertStringList_NativeToManaged(items, vecItems)) {
            g_debug.error("Restore items not added: the managed list could not be built");
            return false;
        }
        Arguments args(items);
        return m_wrapper->Invoke(false, "AddCosmosDBRestoreItems", args);
    });
}

bool CCloudSDKCppBridge::AddCosmosDBRestoreItem(const std::string& strItem) {
    return Call(*m_wrapper, signature::AddCosmosDBRestoreItem, [&](bool up) {
        Arguments args(Text(up, strItem));
        return m_wrapper->Invoke(false, "AddCosmosDBRestoreItem", args);
    });
}

bool CCloudSDKCppBridge::FlushCosmosDBRestore() {
    return Call(*m_wrapper, signature::FlushCosmosDBRestore, [&](bool) {
        return m_wrapper->Invoke(false, "FlushCosmosDBRestore", kNoArguments);
    });
}

bool CCloudSDKCppBridge::RestoreAttachedScripts(const std::string& strIn, bool bOption) {
    return Call(*m_wrapper, signature::RestoreAttachedScripts, [&](bool up) {
        Arguments args(Text(up, strIn), bOption);
        return m_wrapper->Invoke(false, "RestoreAttachedScripts", args);
    });
}

bool CCloudSDKCppBridge::RemoveAllTriggers() {
    return Call(*m_wrapper, signature::RemoveAllTriggers, [&](bool) {
        return m_wrapper->Invoke(false, "RemoveAllTriggers", kNoArguments);
    });
}

bool CCloudSDKCppBridge::ChangeCosmosDBThroughput(int nIn1, int nIn2, int& nOut) {
    return Call(
        *m_wrapper, signature::ChangeCosmosDBThroughput,
        [&](bool) {
            Arguments args(int32_t{nIn1}, int32_t{nIn2}, ByRef(nOut));
            return m_wrapper->Invoke(false, "ChangeCosmosDBThroughput", args);
        },
        [&] {
            nOut = -1;
            return false;
        });
}

}  // namespace CloudSDKCppBridge
