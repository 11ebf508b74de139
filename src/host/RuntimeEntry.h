#pragma once

// Entering the runtime from any thread: every bridge call and every exported helper
// passes here first, since calling the runtime on a thread it does not know aborts the
// process, and calling it before start-up calls through empty entries.

namespace cloudsdk {

// False when the runtime is not up. Otherwise the calling thread has the runtime's
// signals unblocked (before attaching, so that the runtime can suspend it from the first
// moment it knows it), is attached to the domain (harmless when it was already), and
// will unblock those signals again when it exits (RuntimeSignals.h).
bool EnterRuntime();

}  // namespace cloudsdk
