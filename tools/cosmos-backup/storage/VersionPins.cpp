#include "storage/VersionPins.h"

#include "support/ToolError.h"

namespace cosmosbackup {

std::string VersionPins::Of(const std::string& name) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_versions.find(name);
    return found == m_versions.end() ? "" : found->second;
}

void VersionPins::Check(const std::string& name, const std::string& version, const std::string& where) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto [pin, added] = m_versions.emplace(name, version);
    if (!added && pin->second != version) {
        throw ToolError(name + " in " + where + " was replaced since this run checked it; another process is writing there. "
                        "Nothing more is read from it: run the command again once that process has finished");
    }
}

void VersionPins::Moved(const std::string& name, const std::string& version) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (version.empty()) {
        m_versions.erase(name);
    } else {
        m_versions[name] = version;
    }
}

void VersionPins::Forget(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_versions.erase(name);
}

}  // namespace cosmosbackup
