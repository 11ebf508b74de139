#pragma once

// The utility services whose objects the library exports: the logger and the two
// synchronisation objects of the runtime start-up. Their operations are internal to the
// library; a host reaches them only through the objects named in CloudSDKCppBridge.h.

#include <atomic>
#include <mutex>

class EvDebugFileInstance;

// One logger. Each operation writes one printf-formatted record as one line, with UTC
// time, level and thread id. Destination: the file named by CLOUDSDK_LOG (appended,
// mode 0600), else standard error. CLOUDSDK_LOG_LEVEL: 0 writes error and Error records
// only, 1 (default) adds debug, 2 adds debugLvl(2).
class EvDebug {
public:
    explicit EvDebug(EvDebugFileInstance* file = nullptr);

    void error(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void debug(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void debugLvl(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // A record of a failure at a named place (a function signature, a feature name).
    void Error(const char* where, const char* format, ...) __attribute__((format(printf, 3, 4)));

private:
    EvDebugFileInstance* m_file;
};

// The handle objects behind the event and the critical section. They live inside the
// objects that own them and have nothing to destroy, so that the static start-up event and
// lock stay usable while exit() runs the static destructors: host threads may still be
// constructing a bridge, and the runtime's host thread finishing the start-up, by then.
class ZrEventH {
public:
    explicit ZrEventH(bool signalled) : m_signalled(signalled) {}
    void Set();
    void Wait();

private:
    std::atomic<bool> m_signalled;
};

class ZrCriticalSectionH {
public:
    std::mutex m_mutex;
};

// A one-shot event: starts unsignalled unless told otherwise; wait() returns once set()
// has been called, also when set() came first.
class ZrEvent {
public:
    explicit ZrEvent(bool signalled = false);
    ~ZrEvent() = default;
    ZrEvent(const ZrEvent&) = delete;
    ZrEvent& operator=(const ZrEvent&) = delete;

    void set();
    void wait();

private:
    ZrEventH m_handle;
};

// A mutual-exclusion section. enter(true) blocks until the caller owns it; enter(false)
// only tries and tells whether it got it.
class ZrCriticalSection {
public:
    ZrCriticalSection() = default;
    ~ZrCriticalSection() = default;
    ZrCriticalSection(const ZrCriticalSection&) = delete;
    ZrCriticalSection& operator=(const ZrCriticalSection&) = delete;

    bool enter(bool wait);
    void leave();

private:
    ZrCriticalSectionH m_handle;
};
