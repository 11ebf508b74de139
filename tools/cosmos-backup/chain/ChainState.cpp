#include "chain/ChainState.h"

namespace cosmosbackup {

ChainStateFilter::ChainStateFilter(KeySet stateKeys, const nlohmann::json& partitionKey)
    : m_state(std::move(stateKeys)), m_keys(partitionKey) {
    m_state.Normalise();
    m_taken.assign(m_state.size(), false);
}

bool ChainStateFilter::Keep(std::string_view item) { return KeepKey(m_keys.KeyOfText(item)); }

bool ChainStateFilter::KeepKey(std::string_view key) {
    const std::size_t at = m_state.Position(key);
    if (at == m_state.size() || m_taken[at]) return false;
    m_taken[at] = true;
    return true;
}

std::vector<ChainFile> StateOrder(const std::vector<ChainLink>& chain) {
    std::vector<ChainFile> files;
    for (auto link = chain.rbegin(); link != chain.rend(); ++link) {
        for (const auto& file : link->manifest.files) files.push_back(ChainFile{&*link, file});
    }
    return files;
}

KeySet DeletedSinceBase(const std::vector<ChainLink>& chain, const KeySet& state) {
    KeySet deleted;
    for (const auto& link : chain) {
        if (!link.record.IsIncrement()) continue;
        for (const auto key : ReadKeyFile(*link.store, link.record.deletions)) {
            if (!state.Contains(key)) deleted.Add(key);
        }
    }
    deleted.Normalise();
    return deleted;
}

}  // namespace cosmosbackup
