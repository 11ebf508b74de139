#include "repository/RunRecord.h"

#include "support/ToolError.h"

namespace cosmosbackup {
namespace {

// Endpoints are compared as given, but for a trailing slash.
std::string TrimmedEndpoint(std::string endpoint) {
    while (!endpoint.empty() && endpoint.back() == '/') endpoint.pop_back();
    return endpoint;
}

nlohmann::json ContainersJson(const RunRecord& r) {
    nlohmann::json containers = nlohmann::json::object();
    for (const auto& [name, figures] : r.containers) {
        containers[name] = {{"requestCharge", figures.requestCharge}, {"seconds", figures.seconds}};
    }
    return containers;
}

}  // namespace

std::string SourceKeyOf(const std::string& endpoint, const std::string& database, const std::string& container, bool account) {
    return nlohmann::json{TrimmedEndpoint(endpoint), database, container, account}.dump();
}

std::string RunRecord::SourceKey() const { return SourceKeyOf(endpoint, database, container, account); }

std::string RunRecord::DescribeSource() const {
    if (!account) return database + "/" + container;
    return database.empty() ? "all databases (account run)" : database + " (account run)";
}

nlohmann::json ToJson(const RunRecord& r) {
    nlohmann::json json{{"formatVersion", RunRecord::kFormatVersion},
                        {"id", r.id},
                        {"source", {{"endpoint", r.endpoint}, {"database", r.database}, {"container", r.container}, {"account", r.account}}},
                        {"parent", r.parent.empty() ? nlohmann::json(nullptr) : nlohmann::json(r.parent)},
                        {"toolVersion", r.toolVersion},
                        {"finished", r.finished},
                        {"requestCharge", r.requestCharge},
                        {"seconds", r.seconds},
                        {"containers", ContainersJson(r)}};
    if (r.shards > 0) json["shards"] = r.shards;  // absent for a run of one process, as records before shards were
    return json;
}

RunRecord RunRecordOf(const nlohmann::json& j, const std::string& where) {
    try {
        if (j.at("formatVersion").get<int>() != RunRecord::kFormatVersion) throw ToolError(where + ": unknown format version");
        RunRecord r;
        r.id = j.at("id").get<std::string>();
        const auto& source = j.at("source");
        r.endpoint = source.at("endpoint").get<std::string>();
        r.database = source.at("database").get<std::string>();
        r.container = source.at("container").get<std::string>();
        r.account = source.at("account").get<bool>();
        r.shards = j.value("shards", 0);
        r.parent = j.at("parent").is_null() ? "" : j.at("parent").get<std::string>();
        r.toolVersion = j.at("toolVersion").get<std::string>();
        r.finished = j.at("finished").get<bool>();
        r.requestCharge = j.at("requestCharge").get<double>();
        r.seconds = j.at("seconds").get<double>();
        const auto containers = j.value("containers", nlohmann::json::object());
        for (const auto& [name, figures] : containers.items()) {
            r.containers[name] = {figures.at("requestCharge").get<double>(), figures.at("seconds").get<double>()};
        }
        return r;
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(where + " is malformed: " + e.what());
    }
}

}  // namespace cosmosbackup
