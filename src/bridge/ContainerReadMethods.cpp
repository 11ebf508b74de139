// The bridge methods with which the host reads a container for backup.

#include <CloudSDKCppBridge.h>

#include "bridge/BridgeCall.h"
#include "bridge/ListResult.h"
#include "bridge/Signatures.h"

#include <cstdint>

namespace CloudSDKCppBridge {

using bridge::Call;
using bridge::ReadTexts;
using bridge::Text;

bool CCloudSDKCppBridge::OpenCosmosDBContainer(const std::string& strIn1, const std::string& strIn2, bool bOption,
                                               const std::string& strIn3, const std::string& strIn4) {
    return Call(*m_wrapper, signature::OpenCosmosDBContainer, [&](bool up) {
        bool option = bOption;
        void* args[] = {Text(up, strIn1), Text(up, strIn2), &option, Text(up, strIn3), Text(up, strIn4)};
        return m_wrapper->Invoke(false, "OpenCosmosDBContainer", args);
    });
}

bool CCloudSDKCppBridge::DescribeCosmosDBContainer(std::string& strOut1, CosmosDBThroughput& throughput,
                                                   std::string& strOut2) {
    return Call(*m_wrapper, signature::DescribeCosmosDBContainer, [&](bool) {
        MonoString* slotA = nullptr;
        MonoString* slotB = nullptr;
        void* args[] = {&slotA, &throughput.nValue1, &throughput.nValue2, &throughput.nValue3, &throughput.nValue4,
                        &slotB};
        if (!m_wrapper->Invoke(false, "DescribeCosmosDBContainer", args)) {
            return false;
        }
        strOut1 = gc2std(slotA);
        strOut2 = gc2std(slotB);
        return true;
    });
}

bool CCloudSDKCppBridge::CountItems(long long& llCount) {
    return Call(*m_wrapper, signature::CountItems, [&](bool) {
        void* args[] = {&llCount};
        return m_wrapper->Invoke(false, "CountItems", args);
    });
}

bool CCloudSDKCppBridge::ObtainContainerStatistics(long long& llOut1, long long& llOut2, std::string& strOut) {
    return Call(*m_wrapper, signature::ObtainContainerStatistics, [&](bool) {
        MonoString* slot = nullptr;
        void* args[] = {&llOut1, &llOut2, &slot};
        const bool result = m_wrapper->Invoke(false, "ObtainContainerStatistics", args);
        strOut = gc2std(slot);  // whatever the result
        return result;
    });
}

bool CCloudSDKCppBridge::IsEmpty(bool& bEmpty) {
    return Call(*m_wrapper, signature::IsEmpty, [&](bool) {
        void* args[] = {&bEmpty};
        return m_wrapper->Invoke(false, "IsEmpty", args);
    });
}

bool CCloudSDKCppBridge::GetCosmosDBTokens(long long llIn, std::vector<SString>& vecTokens) {
    return Call(*m_wrapper, signature::GetCosmosDBTokens, [&](bool) {
        int64_t index = llIn;
        void* args[] = {&index};
        return ReadTexts(m_wrapper->Invoke("GetCosmosDBTokens", args), vecTokens);
    });
}

bool CCloudSDKCppBridge::GetCosmosDBData(const std::string& strIn, long long llIn, std::string& strOut, bool& bOut,
                                         std::vector<SString>& vecData) {
    bOut = false;
    // The managed method reports success through a by-reference flag, not its result.
    bool success = false;
    return Call(
        *m_wrapper, signature::GetCosmosDBData,
        [&](bool up) {
            int64_t value = llIn;
            MonoString* slot = nullptr;
            void* args[] = {Text(up, strIn), &value, &slot, &success, &bOut};
            MonoObject* list = m_wrapper->Invoke("GetCosmosDBData", args);
            if (list == nullptr || !success) {
                return success;
            }
            // A page that cannot be read whole is not delivered: true would let the host
            // take a partial page, or the previous page's contents, for this one.
            if (!ReadTexts(list, vecData)) {
                return false;
            }
            strOut = gc2std(slot);
            return true;
        },
        // An exception means the page was not delivered, whatever the flag held then.
        [] { return false; });
}

bool CCloudSDKCppBridge::BackupAttachedScripts(bool bOption, int& nOut, std::string& strOut) {
    return Call(*m_wrapper, signature::BackupAttachedScripts, [&](bool) {
        bool option = bOption;
        MonoString* slot = nullptr;
        void* args[] = {&option, &nOut, &slot};
        const bool result = m_wrapper->Invoke(false, "BackupAttachedScripts", args);
        strOut = gc2std(slot);  // whatever the result
        return result;
    });
}

}  // namespace CloudSDKCppBridge
