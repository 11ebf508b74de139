#include "account/ContainerChoice.h"

#include "support/ShellWord.h"
#include "support/ToolError.h"

#include <algorithm>
#include <set>

namespace cosmosbackup {

std::string TargetOf(const ChosenContainer& s) { return s.targetDatabase + "/" + s.container->id; }

std::int64_t ExpectedItems(const std::vector<ChosenContainer>& chosen) {
    std::int64_t items = 0;
    for (const auto& s : chosen) items += s.container->items;
    return items;
}

std::vector<ChosenContainer> ChooseContainers(const AccountManifest& m, const Selection& selection,
                                              const std::map<std::string, std::string>& map, const std::string& location) {
    std::vector<ChosenContainer> chosen;
    std::string unfinished;
    for (const auto& d : m.databases) {
        const auto mapped = map.find(d.id);
        for (const auto& c : d.containers) {
            if (!selection.Covers(d.id, c.id)) continue;
            if (c.status == AccountContainer::kFailed || c.status == AccountContainer::kPending) unfinished += " " + d.id + "/" + c.id;
            chosen.push_back(ChosenContainer{&d, &c, mapped == map.end() ? d.id : mapped->second});
        }
    }
    for (const auto& entry : map) {
        if (std::none_of(m.databases.begin(), m.databases.end(), [&](const AccountDatabase& d) { return d.id == entry.first; })) {
            throw ToolError("--database-map names " + entry.first + ", which the backup in " + location + " does not hold");
        }
    }
    if (!unfinished.empty()) {
        throw ToolError("the account backup in " + location + " did not finish these containers:" + unfinished +
                        "; finish it with: cosmos-backup backup --out " + ShellWord(location) +
                        " --resume, or leave them out with --exclude");
    }
    if (chosen.empty()) throw ToolError("no container of the backup in " + location + " is selected");
    std::set<std::string> targets;
    for (const auto& c : chosen) {
        if (!targets.insert(TargetOf(c)).second) throw ToolError("two containers of the backup would be restored into " + TargetOf(c));
    }
    return chosen;
}

}  // namespace cosmosbackup
