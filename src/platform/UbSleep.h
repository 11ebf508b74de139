#pragma once

// Suspends the calling thread for `milliseconds`, the full time even when signals (such as
// the runtime's suspend signals under preemptive suspend) interrupt the sleep. `file` and
// `line` name the call site.
void UBSLEEP_InTeRnAl(unsigned int milliseconds, const char* file, int line);
