#include "service/ContainerDefinition.h"

#include <algorithm>

namespace cosmosbackup {
namespace {

void Collect(const nlohmann::json& wanted, const nlohmann::json& have, const std::string& path, std::vector<std::string>& lost);

bool Covers(const nlohmann::json& have, const nlohmann::json& wanted) {
    std::vector<std::string> lost;
    Collect(wanted, have, "", lost);
    return lost.empty();
}

void Collect(const nlohmann::json& wanted, const nlohmann::json& have, const std::string& path, std::vector<std::string>& lost) {
    if (wanted.is_object() && have.is_object()) {
        for (const auto& member : wanted.items()) {
            const std::string at = path.empty() ? member.key() : path + "/" + member.key();
            if (path.empty() && member.key() == "id") continue;
            const auto found = have.find(member.key());
            if (found == have.end()) lost.push_back(at + " is missing");
            else Collect(member.value(), *found, at, lost);
        }
    } else if (wanted.is_array() && have.is_array()) {
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            const auto& element = wanted[i];
            if (std::none_of(have.begin(), have.end(), [&](const nlohmann::json& h) { return Covers(h, element); })) {
                lost.push_back(path + "[" + std::to_string(i) + "] " + element.dump() + " is missing");
            }
        }
    } else if (wanted != have) {
        lost.push_back(path + " is " + have.dump() + ", the backup has " + wanted.dump());
    }
}

nlohmann::json KeyShape(const nlohmann::json& definition) {
    if (!definition.is_object()) return nullptr;
    return {{"paths", definition.value("paths", nlohmann::json::array())},
            {"kind", definition.value("kind", std::string("Hash"))},
            {"version", definition.value("version", 1)}};
}

}  // namespace

std::vector<std::string> LostProperties(const nlohmann::json& backup, const nlohmann::json& created) {
    std::vector<std::string> lost;
    Collect(backup, created, "", lost);
    return lost;
}

bool SamePartitionKey(const nlohmann::json& a, const nlohmann::json& b) { return KeyShape(a) == KeyShape(b); }

bool ContainerExists(Connection& connection, const std::string& database, const std::string& container) {
    const auto databases = connection.Databases();
    if (std::find(databases.begin(), databases.end(), database) == databases.end()) return false;
    const auto names = connection.Containers(database);
    return std::find(names.begin(), names.end(), container) != names.end();
}

}  // namespace cosmosbackup
