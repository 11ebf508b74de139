#pragma once

// The signals the runtime needs to reach every thread it knows. With preemptive suspend a
// collection stops each attached thread with one of the runtime's real-time signals and
// waits for its answer; a managed null dereference or division by zero arrives as
// SIGSEGV or SIGFPE on the thread that ran it. A host thread with those signals blocked
// (servers commonly block all signals in their workers and wait for them in one thread)
// would hang every collection, and a blocked fault signal makes the kernel end the whole
// process. So every thread that enters the library has exactly these signals unblocked;
// all others keep the host's mask.

namespace cloudsdk::runtimesignals {

// Records which signals the runtime handles (the fault signals and real-time signals
// whose handler lies in the runtime library). Called once, on the runtime's host thread,
// after the runtime has started.
void Record();

// Unblocks the recorded signals in the calling thread; nothing before Record().
void UnblockInThisThread();

// Makes the calling thread unblock the recorded signals again when it exits, before the
// runtime's own exit handling for it: the runtime still counts the thread while it
// detaches it, and a collection that began meanwhile waits for the thread's answer to
// its suspend signal. A thread that went back to blocking every signal would make that
// collection, and every thread that waits for it, wait for ever.
void UnblockAgainAtThreadExit();

}  // namespace cloudsdk::runtimesignals
