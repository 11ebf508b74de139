#include "service/RequestUsage.h"

#include "support/ToolError.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <vector>

namespace cosmosbackup {
namespace {
constexpr long long kUsageCode = -1;
// Throttled requests are retried for as long as the wait limit allows, not a fixed count.
constexpr long long kUnboundedRetries = 1000000;
}  // namespace

RequestUsage& RequestUsage::operator+=(const RequestUsage& other) {
    requestCharge += other.requestCharge;
    requests += other.requests;
    throttled += other.throttled;
    throttleWaitMs += other.throttleWaitMs;
    return *this;
}

RequestUsage ReadUsage(Connection& connection) {
    std::vector<CloudSDKCppBridge::SString> texts;
    connection.Require(connection.bridge().GetCosmosDBTokens(kUsageCode, texts), "cannot read the request charges");
    if (texts.size() != 1) throw ToolError("the wrapper gave no usage record");
    try {
        const auto j = nlohmann::json::parse(texts[0].strValue);
        RequestUsage usage;
        j.at("requestCharge").get_to(usage.requestCharge);
        j.at("requests").get_to(usage.requests);
        j.at("throttled").get_to(usage.throttled);
        j.at("throttleWaitMs").get_to(usage.throttleWaitMs);
        return usage;
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(std::string("the wrapper's usage record is not readable: ") + e.what());
    }
}

std::string DescribeUsage(const RequestUsage& usage, double seconds) {
    char text[160];
    std::snprintf(text, sizeof text, "%.1f RU (%.0f RU/s), %lld throttled requests (%.1f s waited)", usage.requestCharge,
                  seconds > 0 ? usage.requestCharge / seconds : 0.0, static_cast<long long>(usage.throttled),
                  static_cast<double>(usage.throttleWaitMs) / 1000.0);
    return text;
}

std::string ThrottlingOptions(long long maxRuPerSecond, long long maxRetryWaitSeconds) {
    return "maxRu=" + std::to_string(maxRuPerSecond) + ";maxRetries=" + std::to_string(kUnboundedRetries) +
           ";maxRetryWaitMs=" + std::to_string(maxRetryWaitSeconds * 1000);
}

}  // namespace cosmosbackup
