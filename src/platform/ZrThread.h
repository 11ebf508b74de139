#pragma once

// A thread started and left to run. Destroying the object neither stops nor waits for the
// thread it started.
class ZrThread {
public:
    using Function = void* (*)(void*);

    ZrThread() = default;
    ZrThread(const ZrThread&) = delete;
    ZrThread& operator=(const ZrThread&) = delete;

    // Starts `function(arg)` on a new thread; false when no thread could be created.
    bool createThread(Function function, void* arg);
};
