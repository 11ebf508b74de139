#pragma once

#include <CloudSDKCppBridge.h>

#include "marshal/CloudSDKHelper.h"

#include <vector>

namespace CloudSDKCppBridge::bridge {

// A managed list result is success only when it is non-null and was read whole: a partial
// list would have the host back up too little without knowing. A list that was not read
// whole leaves the vector empty; a null list (the managed method's own failure) leaves it
// untouched.
inline bool ReadAccounts(MonoObject* list, std::vector<SStorageAccountInfo>& vecAccounts) {
    return list != nullptr &&
           CloudSDKCppBridgeHelper::CCloudSDKHelper::ConvertStorageAccountInfoList_ManagedToNative(vecAccounts, list);
}

inline bool ReadTexts(MonoObject* list, std::vector<SString>& vecTexts) {
    return list != nullptr && CloudSDKCppBridgeHelper::CCloudSDKHelper::ConvertStringList_ManagedToNative(vecTexts, list);
}

}  // namespace CloudSDKCppBridge::bridge
