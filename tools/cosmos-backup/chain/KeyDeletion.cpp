#include "chain/KeyDeletion.h"

#include <vector>

namespace cosmosbackup {
namespace {

constexpr std::size_t kKeysPerCall = 500;
// The wrapper's restore target suffix that makes the items added keys to delete.
constexpr const char* kDeleteMark = "?delete";

}  // namespace

std::int64_t DeleteKeys(Connection& connection, const KeySet& keys, const std::string& target, int parallelism, const std::string& what) {
    if (keys.empty()) return 0;
    auto& bridge = connection.bridge();
    connection.Require(bridge.StartCosmosDBRestore(parallelism, target + kDeleteMark), "cannot start deleting from " + target);
    std::vector<CloudSDKCppBridge::SString> chunk;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        chunk.push_back(CloudSDKCppBridge::SString{std::string(keys[i])});
        if (chunk.size() == kKeysPerCall || i + 1 == keys.size()) {
            connection.Require(bridge.AddCosmosDBRestoreItems(chunk), "cannot delete " + what);
            chunk.clear();
        }
    }
    connection.Require(bridge.FlushCosmosDBRestore(), "cannot delete " + what);
    return static_cast<std::int64_t>(keys.size());
}

}  // namespace cosmosbackup
