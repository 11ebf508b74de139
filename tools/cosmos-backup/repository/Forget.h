#pragma once

#include "repository/Catalogue.h"
#include "repository/Retention.h"

#include <string>
#include <vector>

namespace cosmosbackup {

// What forget decides for one backup.
struct ForgetDecision {
    std::string id;
    std::string source;
    bool keep = false;
    std::string why;  // "last, daily", "needed by ID", "unfinished", "no rule keeps it"
};

// The policy applied per source (of the backups matching `database` and `container`, "" any):
// the backups its rules keep, every backup they need (their chains' links, followed through
// the parents), and every unfinished one are kept; the others are forgotten. Backups forgotten
// before are not among the decisions.
std::vector<ForgetDecision> DecideForget(const std::vector<CatalogueBackup>& catalogue, const RetentionPolicy& policy,
                                         const std::string& database, const std::string& container);

// Marks the backups the decisions do not keep as forgotten: they are no longer listed, chosen
// as parents or restored by latest/--at, and prune removes them.
void Forget(Repository& repository, const std::vector<ForgetDecision>& decisions);

struct PruneSummary {
    std::vector<std::string> removed;
    std::vector<std::string> stillNeeded;  // forgotten, but a backup that is not forgotten needs it
};

// Removes every forgotten backup that no other backup needs, holding the lock of each source it
// removes from (a backup of that source waits or is refused meanwhile). A backup's manifest goes
// first, so that it is never taken for a whole backup again, then its files, then its records:
// a prune killed anywhere is completed by the next one.
PruneSummary Prune(Repository& repository);

}  // namespace cosmosbackup
