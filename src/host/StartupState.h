#pragma once

// The lock and the event of the runtime start-up as the runtime host uses them. They have
// nothing to destroy at exit: host threads may still construct bridges, and the runtime's
// host thread may still be finishing the start-up, while exit() runs the static
// destructors. (The exported c_AzuremonoInitCS and c_AzuremonoInitEvent free their handles
// there, so after that a late constructor would lock freed memory.)

#include <mutex>

namespace cloudsdk::startup {

// Held while a constructor checks for, and if need be starts, the runtime.
std::mutex& Lock();
// The runtime's host thread has finished the start-up, well or not.
void SignalDone();
// Returns once SignalDone() has been called, also when it came first.
void AwaitDone();

}  // namespace cloudsdk::startup
