#pragma once

#include "Connection.h"

#include <cstdint>

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

// The wrapper's client options for an RU budget (0 = none) and the longest a request may wait
// for throttling to pass, to append to ConnectionOptions::clientOptions.
std::string ThrottlingOptions(long long maxRuPerSecond, long long maxRetryWaitSeconds);

}  // namespace cosmosbackup
