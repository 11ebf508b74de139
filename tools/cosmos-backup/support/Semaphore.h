#pragma once

#include <condition_variable>
#include <mutex>

namespace cosmosbackup {

// A counting semaphore: at most `count` holders at once. Shared by the parts of a run that
// must stay under one bound together (the range readers of every container of an account).
class Semaphore {
public:
    explicit Semaphore(int count) : m_free(count) {}
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    void Acquire() {
        std::unique_lock<std::mutex> hold(m_lock);
        m_changed.wait(hold, [this] { return m_free > 0; });
        --m_free;
    }
    void Release() {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            ++m_free;
        }
        m_changed.notify_one();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_free;
};

// Holds one unit of a semaphore (none when it is null) for its scope.
class SemaphoreHold {
public:
    explicit SemaphoreHold(Semaphore* semaphore) : m_semaphore(semaphore) {
        if (m_semaphore != nullptr) m_semaphore->Acquire();
    }
    ~SemaphoreHold() {
        if (m_semaphore != nullptr) m_semaphore->Release();
    }
    SemaphoreHold(const SemaphoreHold&) = delete;
    SemaphoreHold& operator=(const SemaphoreHold&) = delete;

private:
    Semaphore* m_semaphore;
};

}  // namespace cosmosbackup
