#pragma once

namespace cosmosbackup {

// Keeps the process's memory (account keys, SAS tokens, signed URLs, backup bytes) out of what a
// crash leaves behind: no core file (RLIMIT_CORE 0), no debugger attaching as the same user and
// no core through a system handler (PR_SET_DUMPABLE 0), and no debugger backtrace of every
// thread's arguments from the runtime's crash handler (MONO_DEBUG no-gdb-backtrace). Called
// before the runtime starts. Throws ToolError when the system refuses.
void KeepSecretsOutOfCrashReports();

// The tool's switch for those who need a core file to report a crash: --allow-core-dumps, or
// COSMOS_BACKUP_ALLOW_CORE_DUMPS=1 in the environment.
bool CoreDumpsAskedForByEnvironment();

}  // namespace cosmosbackup
