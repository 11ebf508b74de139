#include "service/Connection.h"

#include "support/ToolError.h"

namespace cosmosbackup {

Connection::Connection(const ConnectionOptions& options) {
    Require(m_bridge.Initialize("cosmos-backup", options.clientOptions, options.requestTimeoutMs, 0),
            "cannot set up the managed wrapper");
    if (!options.proxy.empty()) {
        // SetWebProxy returns nothing: a proxy it cannot use shows as the first failure.
        m_bridge.SetWebProxy(options.proxy, "", "");
        const std::string why = m_bridge.GetLastErrorString();
        if (!why.empty()) throw ToolError("cannot use the proxy: " + why);
    }
    Require(m_bridge.Connect(options.endpoint, options.key, options.verifyTls ? "" : "verifyTls=false"),
            "cannot connect to " + options.endpoint);
}

Connection::~Connection() { m_bridge.Disconnect(); }

void Connection::Require(bool ok, const std::string& what) {
    if (ok) return;
    std::string why = m_bridge.GetLastErrorString();
    throw ToolError(what + (why.empty() ? std::string() : ": " + why));
}

std::vector<std::string> Texts(const std::vector<CloudSDKCppBridge::SString>& list) {
    std::vector<std::string> texts;
    texts.reserve(list.size());
    for (const auto& s : list) texts.push_back(s.strValue);
    return texts;
}

nlohmann::json Connection::ContainerInfo(const std::string& name) {
    long long count = 0, size = 0;
    std::string statistics;
    Require(m_bridge.ObtainContainerStatistics(count, size, statistics), "cannot read the definition of " + name);
    auto info = nlohmann::json::parse(statistics, nullptr, false);
    if (info.is_discarded() || !info.contains("container") || !info["container"].is_object() || !info.contains("throughput")) {
        throw ToolError("the managed wrapper does not give the definition of " + name + "; it is older than this tool");
    }
    return info;
}

std::vector<nlohmann::json> Connection::PartitionKeyRanges() {
    constexpr long long kRangesAsJson = 1;
    std::vector<CloudSDKCppBridge::SString> texts;
    Require(m_bridge.GetCosmosDBTokens(kRangesAsJson, texts), "cannot read the container's partition key ranges");
    std::vector<nlohmann::json> ranges;
    for (const auto& text : texts) {
        try {
            ranges.push_back(nlohmann::json::parse(text.strValue));
        } catch (const nlohmann::json::exception& e) {
            throw ToolError(std::string("the wrapper's partition key range is not JSON: ") + e.what());
        }
    }
    return ranges;
}

std::vector<std::string> Connection::Databases() {
    std::vector<CloudSDKCppBridge::SString> list;
    Require(m_bridge.ListCosmosDBDatabases("", "", true, list), "cannot list databases");
    return Texts(list);
}

std::vector<std::string> Connection::Containers(const std::string& database) {
    std::vector<CloudSDKCppBridge::SString> list;
    Require(m_bridge.ListCosmosDBContainers("", database, "", true, list), "cannot list the containers of " + database);
    return Texts(list);
}

}  // namespace cosmosbackup
