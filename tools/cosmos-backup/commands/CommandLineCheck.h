#pragma once

#include <CLI/CLI.hpp>

namespace cosmosbackup {

// Checks the command line against what `app` declares before it is parsed, so that a mistyped
// command or option is refused with the nearest known spelling ("did you mean --parallel?")
// rather than the parser's list of leftover words, which would echo values, keys among them.
// Global options may stand before or after the command. Throws UsageError.
void CheckCommandLine(const CLI::App& app, int argc, const char* const* argv);

}  // namespace cosmosbackup
