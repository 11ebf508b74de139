#pragma once

#include <map>
#include <mutex>
#include <string>

namespace cosmosbackup {

// The version (an ETag, or a local file's identity) in which a store first saw each file, so
// that every later read of that file within the run gets the bytes that were checked: a file
// replaced by anyone but the store itself in between stops the run. The store's own writes
// move a pin on; its removals drop it. Safe to use from several threads.
class VersionPins {
public:
    // The pinned version of `name`, "" when none.
    std::string Of(const std::string& name) const;
    // Pins `version` when `name` has no pin yet; throws ToolError when it has another.
    void Check(const std::string& name, const std::string& version, const std::string& where);
    // The store wrote `name` itself: this is its version now.
    void Moved(const std::string& name, const std::string& version);
    void Forget(const std::string& name);

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_versions;
};

}  // namespace cosmosbackup
