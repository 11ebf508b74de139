#include <CloudSDKCppBridge/Utility.h>

#include <type_traits>

static_assert(std::is_trivially_destructible_v<ZrEvent> && std::is_trivially_destructible_v<ZrCriticalSection>,
              "the start-up event and lock must stay usable while exit() destroys static objects");

// The event waits on an atomic flag (a futex underneath), not on a condition variable:
// glibc's condition-variable destructor waits for its waiters, which would hang exit() if
// a thread were still waiting on the static start-up event.
void ZrEventH::Set() {
    m_signalled.store(true, std::memory_order_release);
    m_signalled.notify_all();
}

void ZrEventH::Wait() {
    while (!m_signalled.load(std::memory_order_acquire)) {
        m_signalled.wait(false, std::memory_order_acquire);
    }
}

ZrEvent::ZrEvent(bool signalled) : m_handle(signalled) {}
void ZrEvent::set() { m_handle.Set(); }
void ZrEvent::wait() { m_handle.Wait(); }

bool ZrCriticalSection::enter(bool wait) {
    if (wait) {
        m_handle.m_mutex.lock();
        return true;
    }
    return m_handle.m_mutex.try_lock();
}

void ZrCriticalSection::leave() { m_handle.m_mutex.unlock(); }
