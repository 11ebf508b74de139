#pragma once

namespace cosmosbackup {

// The tool's exit statuses, one table for every command and every flow (single container,
// account, chain, shard); docs/reference-outcomes.md lists them for users.
enum ExitStatus : int {
    kExitDone = 0,
    kExitFailed = 1,         // the summary says why and, where one applies, the command that continues
    kExitUsage = 2,          // the command line cannot be run as given (one line on standard error)
    kExitItemsRefused = 3,   // restore: items the service refused are in the failure report, the others written
    kExitDiffers = 4,        // verify: the backup and the live container differ
    kExitInterrupted = 130,  // SIGINT: what was complete is sealed, the command that continues is printed
    kExitTerminated = 143,   // SIGTERM: likewise
};

}  // namespace cosmosbackup
