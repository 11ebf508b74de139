#pragma once

#include "service/RequestUsage.h"
#include "support/ExitStatus.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace cosmosbackup {

// What a run did to one container, for its summary.
struct ContainerReport {
    std::string source;     // DATABASE/CONTAINER in the backup (or the account)
    std::string target;     // DATABASE/CONTAINER written or compared, for restore and verify
    std::string status;     // "complete", "failed", "deleted", "differs"
    std::string kind;       // backup: "full" or "incremental"
    std::int64_t items = 0;
    std::int64_t bytes = 0;
    std::int64_t deletions = 0;    // an increment's deleted keys, or a chain restore's applied deletions
    std::int64_t failedItems = 0;  // a restore's items in its failure report
    std::int64_t problems = 0;     // verify's differences
    std::vector<std::string> differences;  // verify: the first --max-problems of them
    RequestUsage usage;
    double seconds = 0;
    std::string error;
};

// The summary of one command: per container, and the command that continues it if it stopped short.
struct RunReport {
    std::string command;   // backup, restore, verify
    std::string location;  // the backup location
    std::vector<ContainerReport> containers;
    double seconds = 0;
    std::string resumeCommand;
    int exitCode = 0;

    RequestUsage TotalUsage() const;
};

// One JSON document (for --json): {"command","location","exitCode","seconds","resumeCommand",
// "items","requestCharge","throttled","containers":[{"source","target","status","kind","items",
// "bytes","deletions","failedItems","problems","requestCharge","requests","throttled","seconds","error"}]};
// a verify's containers also list their "differences" (texts, the first --max-problems).
nlohmann::json ReportJson(const RunReport& report);
// The text summary of a run over many containers: a line per container, the totals, and the
// command that continues a run that stopped short.
std::string ReportText(const RunReport& report);

}  // namespace cosmosbackup
