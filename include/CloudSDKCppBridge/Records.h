#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace CloudSDKCppBridge {

// One text, UTF-8.
struct SString {
    std::string strValue;
};

// A page of items as UTF-8: each item's JSON text followed by a line feed, end to end, so
// that the whole page is a run of JSON Lines.
struct SItemPage {
    std::string bytes;
    std::vector<std::uint32_t> ends;  // where each item's text ends in `bytes` (at its line feed)

    std::size_t size() const { return ends.size(); }
    // Item i's text, without its line feed.
    std::string_view item(std::size_t i) const {
        const std::size_t start = i == 0 ? 0 : ends[i - 1] + 1;
        return std::string_view(bytes).substr(start, ends[i] - start);
    }
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
