#pragma once

#include "support/ToolError.h"

#include <string>

namespace cosmosbackup {

// SIGINT and SIGTERM ask the run to stop: the handlers only raise a flag, which the readers and
// writers check between pages; they seal what is complete (files, checkpoints, progress records)
// and end with Interrupted, so that the command that continues finds every record whole. A
// second signal while the first is being handled ends the process at once (by that signal).
void InstallInterruptHandlers();

// The signal that asked the run to stop (SIGINT or SIGTERM), or 0.
int InterruptSignal();
// "SIGINT", "SIGTERM" ("" before any).
std::string InterruptName();

// Raises the flag as the handler does; 0 lowers it again (for tests).
void RequestInterrupt(int signal);

// The run stopped because it was asked to; what it had done is sealed.
class Interrupted : public ToolError {
public:
    using ToolError::ToolError;
};

// Throws Interrupted ("interrupted by SIGINT" + `sealed`) once a signal asked the run to stop.
void StopIfInterrupted(const std::string& sealed);

}  // namespace cosmosbackup
