#pragma once

#include <string>
#include <type_traits>

namespace CloudSDKCppBridge {

// One text, UTF-8.
struct SString {
    std::string strValue;
};

// One database account as the managed side lists it, UTF-8.
struct SStorageAccountInfo {
    std::string strName;
    std::string strAccountType;
    std::string strLocation;
};

// Four throughput values; the managed side reads and writes each field by address, so
// each must be exactly 32 bits and the fields must follow each other.
struct CosmosDBThroughput {
    int nValue1;
    int nValue2;
    int nValue3;
    int nValue4;
};
static_assert(sizeof(int) == 4, "throughput fields are passed as 32-bit managed integers");
static_assert(sizeof(CosmosDBThroughput) == 16 && std::is_standard_layout<CosmosDBThroughput>::value,
              "CosmosDBThroughput is four consecutive 32-bit fields");

// The kind of account list; any other value reaching the bridge selects the default.
enum CosmosDBAccountBrowseType : int {
    CosmosDBBrowseDefault = 0,
    CosmosDBBrowseKind1 = 1,
    CosmosDBBrowseKind2 = 2,
};

}  // namespace CloudSDKCppBridge
