#pragma once

#include "pipeline/FullBackup.h"
#include "pipeline/IncrementBackup.h"
#include "commands/Outcome.h"
#include "commands/VerifyCommand.h"
#include "pipeline/RestorePipeline.h"

#include <string>

namespace cosmosbackup {

// The outcome of a run over one container: its report (one container) and its text summary.

// A backup or a shard of one (`kind` "full" or "incremental") into `location`.
Outcome BackupOutcome(const BackupSummary& summary, const std::string& location, const std::string& kind);
// An increment, or a sharded backup put together (`finished`: its text leaves out the key read,
// which the shards made).
Outcome IncrementOutcome(const IncrementSummary& summary, const std::string& location, bool finished = false);
// A restore of `location` (a container's backup or a chain): exit 3 when items were refused.
Outcome RestoreOutcome(const RestoreSummary& summary, const std::string& location);
// A verify of `location`: exit 4 when it differs; its differences go to standard error.
Outcome VerifyOutcome(const VerifySummary& summary, const std::string& location, bool offline, double seconds);

}  // namespace cosmosbackup
