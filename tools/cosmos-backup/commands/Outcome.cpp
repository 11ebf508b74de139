#include "commands/Outcome.h"

#include "support/Interruption.h"

#include <cstdio>
#include <iostream>

namespace cosmosbackup {
namespace {

// The JSON document's fields about a signal that stopped the run.
void NoteInterruption(nlohmann::json& document) {
    if (InterruptSignal() != 0) document["interrupted"] = InterruptName();
}

}  // namespace

int StatusAfterSignal(int status) {
    if (InterruptSignal() == 0 || status != kExitFailed) return status;
    return 128 + InterruptSignal();
}

std::string ContinuationIn(const std::string& message) {
    for (const char* lead : {"to continue, run: ", "to continue it, run: ", "continue with: "}) {
        const auto at = message.rfind(lead);
        if (at != std::string::npos) return message.substr(at + std::string(lead).size());
    }
    return "";
}

int PrintOutcome(const Outcome& outcome, bool json) {
    RunReport report = outcome.report;
    report.exitCode = StatusAfterSignal(report.exitCode);
    for (const auto& note : outcome.notes) std::fprintf(stderr, "%s\n", note.c_str());
    if (json) {
        auto document = ReportJson(report);
        document.update(outcome.more);
        NoteInterruption(document);
        std::cout << document.dump() << std::endl;
    } else if (!outcome.saidAll) {
        std::cout << (outcome.text.empty() ? ReportText(report) : outcome.text) << std::flush;
    }
    if (report.exitCode != kExitDone && InterruptSignal() != 0) {
        std::fprintf(stderr, "cosmos-backup: interrupted by %s; what was complete is kept\n", InterruptName().c_str());
    }
    if (!report.resumeCommand.empty()) std::fprintf(stderr, "cosmos-backup: to continue, run: %s\n", report.resumeCommand.c_str());
    return report.exitCode;
}

int PrintFailure(const std::string& command, const std::string& message, int status, bool json) {
    status = StatusAfterSignal(status);
    if (json) {
        const std::string continuation = ContinuationIn(message);
        nlohmann::json document{{"command", command.empty() ? nlohmann::json() : nlohmann::json(command)},
                                {"exitCode", status},
                                {"error", message},
                                {"resumeCommand", continuation.empty() ? nlohmann::json() : nlohmann::json(continuation)}};
        NoteInterruption(document);
        std::cout << document.dump() << std::endl;
    }
    if (status == kExitUsage) std::fprintf(stderr, "cosmos-backup: usage: %s (see --help)\n", message.c_str());
    else std::fprintf(stderr, "cosmos-backup: error: %s\n", message.c_str());
    return status;
}

}  // namespace cosmosbackup
