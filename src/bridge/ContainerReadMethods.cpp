// The bridge methods with which the host reads a container for backup.

#include <CloudSDKCppBridge.h>

#include "bridge/BridgeCall.h"
#include "bridge/ListResult.h"
#include "bridge/PageResult.h"
#include "bridge/Signatures.h"

#include <cstdint>

namespace CloudSDKCppBridge {

using bridge::Arguments;
using bridge::ByRef;
using bridge::Call;
using bridge::ReadTexts;
using bridge::Text;

bool CCloudSDKCppBridge::OpenCosmosDBContainer(const std::string& strIn1, const std::string& strIn2, bool bOption,
                                               const std::string& strIn3, const std::string& strIn4) {
    return Call(*m_wrapper, signature::OpenCosmosDBContainer, [&](bool up) {
        Arguments args(Text(up, strIn1), Text(up, strIn2), bOption, Text(up, strIn3), Text(up, strIn4));
        return m_wrapper->Invoke(false, "OpenCosmosDBContainer", args);
    });
}

bool CCloudSDKCppBridge::DescribeCosmosDBContainer(std::string& strOut1, CosmosDBThroughput& throughput,
                                                   std::string& strOut2) {
    return Call(*m_wrapper, signature::DescribeCosmosDBContainer, [&](bool) {
        MonoString* slotA = nullptr;
        MonoString* slotB = nullptr;
        Arguments args(ByRef(slotA), ByRef(throughput.nValue1), ByRef(throughput.nValue2), ByRef(throughput.nValue3),
                       ByRef(throughput.nValue4), ByRef(slotB));
        if (!m_wrapper->Invoke(false, "DescribeCosmosDBContainer", args)) {
            return false;
        }
        strOut1 = cloudsdk::NativeText(slotA);
        strOut2 = cloudsdk::NativeText(slotB);
        return true;
    });
}

bool CCloudSDKCppBridge::CountItems(long long& llCount) {
    return Call(*m_wrapper, signature::CountItems, [&](bool) {
        Arguments args(ByRef(llCount));
        return m_wrapper->Invoke(false, "CountItems", args);
    });
}

bool CCloudSDKCppBridge::ObtainContainerStatistics(long long& llOut1, long long& llOut2, std::string& strOut) {
    return Call(*m_wrapper, signature::ObtainContainerStatistics, [&](bool) {
        MonoString* slot = nullptr;
        Arguments args(ByRef(llOut1), ByRef(llOut2), ByRef(slot));
        const bool result = m_wrapper->Invoke(false, "ObtainContainerStatistics", args);
        strOut = cloudsdk::NativeText(slot);  // whatever the result
        return result;
    });
}

bool CCloudSDKCppBridge::IsEmpty(bool& bEmpty) {
    return Call(*m_wrapper, signature::IsEmpty, [&](bool) {
        Arguments args(ByRef(bEmpty));
        return m_wrapper->Invoke(false, "IsEmpty", args);
    });
}

bool CCloudSDKCppBridge::GetCosmosDBTokens(long long llIn, std::vector<SString>& vecTokens) {
    return Call(*m_wrapper, signature::GetCosmosDBTokens, [&](bool) {
        Arguments args(int64_t{llIn});
        return ReadTexts(m_wrapper->Invoke("GetCosmosDBTokens", args), vecTokens);
    });
}

namespace {

// The read both page methods share. The managed method reports success through a
// by-reference flag, not its result; `take` converts a non-null result and says whether it
// was read whole: a page that cannot be read whole is not delivered, as true would let the
// host take a partial page, or the previous page's contents, for this one. A null result
// gives the flag when `nullIsFlag`, else false. An exception means the page was not
// delivered, whatever the flag held then.
template <class Take>
bool ReadFeedPage(CCloudWrapperPtr& wrapper, const char* signature, const char* method, const std::string& strIn,
                  long long llIn, std::string& strOut, bool& bOut, bool nullIsFlag, Take&& take) {
    bOut = false;
    bool success = false;
    return Call(
        wrapper, signature,
        [&](bool up) {
            MonoString* slot = nullptr;
            Arguments args(Text(up, strIn), int64_t{llIn}, ByRef(slot), ByRef(success), ByRef(bOut));
            MonoObject* result = wrapper.Invoke(method, args);
            if (result == nullptr || !success) {
                return result == nullptr && !nullIsFlag ? false : success;
            }
            if (!take(result)) {
                return false;
            }
            strOut = cloudsdk::NativeText(slot);
            return true;
        },
        [] { return false; });
}

}  // namespace

bool CCloudSDKCppBridge::GetCosmosDBData(const std::string& strIn, long long llIn, std::string& strOut, bool& bOut,
                                         std::vector<SString>& vecData) {
    return ReadFeedPage(*m_wrapper, signature::GetCosmosDBData, "GetCosmosDBData", strIn, llIn, strOut, bOut, true,
                        [&](MonoObject* list) { return ReadTexts(list, vecData); });
}

// Unlike GetCosmosDBData, no page is no page, whatever the flag says.
bool CCloudSDKCppBridge::GetCosmosDBPage(const std::string& strIn, long long llIn, std::string& strOut, bool& bOut,
                                         SItemPage& page) {
    return ReadFeedPage(*m_wrapper, signature::GetCosmosDBPage, "GetCosmosDBPage", strIn, llIn, strOut, bOut, false,
                        [&](MonoObject* bytes) { return bridge::ReadItemPage(bytes, page); });
}

bool CCloudSDKCppBridge::BackupAttachedScripts(bool bOption, int& nOut, std::string& strOut) {
    return Call(*m_wrapper, signature::BackupAttachedScripts, [&](bool) {
        MonoString* slot = nullptr;
        Arguments args(bOption, ByRef(nOut), ByRef(slot));
        const bool result = m_wrapper->Invoke(false, "BackupAttachedScripts", args);
        strOut = cloudsdk::NativeText(slot);  // whatever the result
        return result;
    });
}

}  // namespace CloudSDKCppBridge
