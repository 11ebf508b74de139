#include <CloudSDKCppBridge/Utility.h>

#include <atomic>
#include <mutex>
#include <new>

// The event waits on an atomic flag (a futex underneath), not on a condition variable:
// glibc's condition-variable destructor waits for its waiters, which would hang exit() if
// a thread were still waiting on the static start-up event.
class ZrEventH {
public:
    explicit ZrEventH(bool signalled) : m_signalled(signalled) {}
    void Set() {
        m_signalled.store(true, std::memory_order_release);
        m_signalled.notify_all();
    }
    void Wait() {
        while (!m_signalled.load(std::memory_order_acquire)) {
            m_signalled.wait(false, std::memory_order_acquire);
        }
    }

private:
    std::atomic<bool> m_signalled;
};

class ZrCriticalSectionH {
public:
    std::mutex m_mutex;
};

namespace {

template <class Handle, class... Args>
std::unique_ptr<Handle> MakeHandle(const char* failure, Args... args) {
    std::unique_ptr<Handle> handle(new (std::nothrow) Handle(args...));
    if (!handle) {
        throw failure;
    }
    return handle;
}

}  // namespace

ZrEvent::ZrEvent(bool signalled)
    : m_handle(MakeHandle<ZrEventH>("Not enough memory to initialize ZrEvent", signalled)) {}
ZrEvent::~ZrEvent() = default;
void ZrEvent::set() { m_handle->Set(); }
void ZrEvent::wait() { m_handle->Wait(); }

ZrCriticalSection::ZrCriticalSection()
    : m_handle(MakeHandle<ZrCriticalSectionH>("Not enough memory to initialize ZrCriticalSection")) {}
ZrCriticalSection::~ZrCriticalSection() = default;

bool ZrCriticalSection::enter(bool wait) {
    if (wait) {
        m_handle->m_mutex.lock();
        return true;
    }
    return m_handle->m_mutex.try_lock();
}

void ZrCriticalSection::leave() { m_handle->m_mutex.unlock(); }
