#include "Connection.h"

#include "ToolError.h"

namespace cosmosbackup {

Connection::Connection(const ConnectionOptions& options) {
    Require(m_bridge.Initialize("cosmos-backup", options.clientOptions, options.requestTimeoutMs, 0),
            "cannot set up the managed wrapper");
    if (!options.proxy.empty()) m_bridge.SetWebProxy(options.proxy, "", "");
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
