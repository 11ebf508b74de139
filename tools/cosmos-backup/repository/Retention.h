#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace cosmosbackup {

// Which backups of one source to keep, with restic's meaning: --keep-last N keeps the N newest;
// --keep-hourly/daily/weekly/monthly/yearly N keep the newest backup of each of the N newest
// hours/days/ISO weeks/months/years (UTC) that hold a backup. A backup any rule keeps is kept.
struct RetentionPolicy {
    int last = 0, hourly = 0, daily = 0, weekly = 0, monthly = 0, yearly = 0;

    bool Empty() const { return last + hourly + daily + weekly + monthly + yearly == 0; }
};

struct RetentionCandidate {
    std::string id;
    std::time_t time = 0;
};

struct RetentionDecision {
    std::string id;
    bool keep = false;
    std::vector<std::string> reasons;  // "last", "daily", ... the rules that keep it
};

// The decisions for `backups` (any order), newest first.
std::vector<RetentionDecision> ApplyRetention(const RetentionPolicy& policy, std::vector<RetentionCandidate> backups);

}  // namespace cosmosbackup
