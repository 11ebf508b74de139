#pragma once

#include "account/AccountReport.h"

#include <string>
#include <vector>

namespace cosmosbackup {

// How every command ends, whatever its flow (one container, an account, a chain, a shard): one
// report, printed by PrintOutcome as text or, with --json, as one JSON document on standard
// output; its exitCode is the process's (support/ExitStatus.h).
struct Outcome {
    RunReport report;
    std::string text;                 // the text summary; "" = ReportText(report)
    std::vector<std::string> notes;   // lines for standard error, before the summary (differences, notes)
    bool saidAll = false;             // the run said all there is on standard error: no text summary
    nlohmann::json more = nlohmann::json::object();  // members the JSON document has besides the report's
};

// Prints the outcome and returns the exit status. The command that continues, if any, is the
// last line on standard error. A run a signal stopped exits 128 + the signal.
int PrintOutcome(const Outcome& outcome, bool json);

// A command that ended on an error: one line on standard error ("usage: ... (see --help)" for
// kExitUsage, else "error: ..."); with --json also the document {"command","exitCode","error",
// "resumeCommand"[,"interrupted"]} on standard output. `message` is printed as given (hide
// secrets before). Returns the exit status.
int PrintFailure(const std::string& command, const std::string& message, int status, bool json);

// The command that continues, as a failure's message names it ("" when it names none).
std::string ContinuationIn(const std::string& message);

// The status of a run that ended with `status` after a signal asked it to stop: 128 + the signal
// when it stopped short, else `status`.
int StatusAfterSignal(int status);

}  // namespace cosmosbackup
