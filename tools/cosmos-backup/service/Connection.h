#pragma once

#include <CloudSDKCppBridge.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace cosmosbackup {

// How to reach the account.
struct ConnectionOptions {
    std::string endpoint;
    std::string key;            // never printed
    bool verifyTls = true;      // off only for a local test server with a self-signed certificate
    std::string proxy;          // "" for none; one the wrapper cannot use is an error
    std::string clientOptions;  // passed to Initialize
    unsigned long long requestTimeoutMs = 60000;
};

// One connected bridge object. Every call that fails throws ToolError with what was being
// done and the wrapper's own explanation (GetLastErrorString).
class Connection {
public:
    explicit Connection(const ConnectionOptions& options);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    CloudSDKCppBridge::CCloudSDKCppBridge& bridge() { return m_bridge; }

    // Throws ToolError("<what>: <last error>") unless ok.
    void Require(bool ok, const std::string& what);

    // The open container's whole definition ("container") and throughput layout
    // ("throughput"), as the wrapper gives them beside the container's statistics.
    nlohmann::json ContainerInfo(const std::string& name);

    // The open container's current partition key ranges, one JSON object each.
    std::vector<nlohmann::json> PartitionKeyRanges();

    std::vector<std::string> Databases();
    std::vector<std::string> Containers(const std::string& database);

private:
    CloudSDKCppBridge::CCloudSDKCppBridge m_bridge;
};

std::vector<std::string> Texts(const std::vector<CloudSDKCppBridge::SString>& list);

}  // namespace cosmosbackup
