#pragma once

#include "service/Connection.h"

#include <cstdint>
#include <string>

namespace cosmosbackup {

// What a bridge object's requests cost: request units charged, requests answered, requests
// throttled (429) and the time spent waiting for throttling to pass (the wrapper's usage
// record, GetCosmosDBTokens(-1)).
struct RequestUsage {
    double requestCharge = 0;
    std::int64_t requests = 0;
    std::int64_t throttled = 0;
    std::int64_t throttleWaitMs = 0;

    RequestUsage& operator+=(const RequestUsage& other);
};

// Throws ToolError when the wrapper cannot say.
RequestUsage ReadUsage(Connection& connection);

// "1234.5 RU (411 RU/s), 3 throttled requests (1.2 s waited)" over `seconds`.
std::string DescribeUsage(const RequestUsage& usage, double seconds);

// The wrapper's client options for an RU budget (0 = none) and the longest a request may wait
// for throttling to pass, to append to ConnectionOptions::clientOptions.
std::string ThrottlingOptions(long long maxRuPerSecond, long long maxRetryWaitSeconds);

}  // namespace cosmosbackup
