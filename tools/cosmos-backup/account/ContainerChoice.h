#pragma once

#include "account/AccountManifest.h"
#include "account/Selection.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace cosmosbackup {

// A container of an account backup chosen for a restore or a verify, and the database it goes to.
struct ChosenContainer {
    const AccountDatabase* database;
    const AccountContainer* container;
    std::string targetDatabase;
};

// "database/container" the chosen container is restored into or compared with.
std::string TargetOf(const ChosenContainer& chosen);

// For the progress line: the items of every chosen container, as the account manifest gives them.
std::int64_t ExpectedItems(const std::vector<ChosenContainer>& chosen);

// The containers of the account backup in `location` that `selection` covers, their databases
// renamed by `databaseMap`. Throws when a container chosen is unfinished in the backup, when the
// map names a database the backup lacks, when nothing is chosen, or when two would share a target.
std::vector<ChosenContainer> ChooseContainers(const AccountManifest& manifest, const Selection& selection,
                                              const std::map<std::string, std::string>& databaseMap, const std::string& location);

}  // namespace cosmosbackup
