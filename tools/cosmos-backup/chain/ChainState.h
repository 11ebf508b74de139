#pragma once

#include "chain/ChainLinks.h"
#include "chain/ItemKey.h"
#include "chain/KeySet.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace cosmosbackup {

// Which versions of the items in a chain's data files make up the state at its newest backup:
// for each key of that backup's key file, its newest version. Shown the items of the links
// newest first, it keeps an item when its key is in the state and no newer version was shown
// before; every other item is an older version or of a key deleted since.
class ChainStateFilter {
public:
    // `stateKeys` normalised (a key file's keys are).
    ChainStateFilter(KeySet stateKeys, const nlohmann::json& partitionKey);
    ChainStateFilter(ChainStateFilter&&) = default;

    bool Keep(std::string_view item);
    // The same from the item's key (ItemKeyMaker's text).
    bool KeepKey(std::string_view key);
    std::size_t stateSize() const { return m_state.size(); }

private:
    KeySet m_state;
    std::vector<bool> m_taken;  // by position in m_state
    ItemKeyMaker m_keys;
};

// The chain's data files in the order the state is taken from them: links newest first, each
// link's files in its manifest's order.
struct ChainFile {
    const ChainLink* link = nullptr;
    DataFile file;
};
std::vector<ChainFile> StateOrder(const std::vector<ChainLink>& chain);

// The keys deleted somewhere in the chain after its base and absent from its newest state:
// what an existing target may still hold of the chain's source. Normalised.
KeySet DeletedSinceBase(const std::vector<ChainLink>& chain, const KeySet& state);

}  // namespace cosmosbackup
