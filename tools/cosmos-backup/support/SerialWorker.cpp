#include "support/SerialWorker.h"

namespace cosmosbackup {

SerialWorker::~SerialWorker() {
    if (!m_thread.joinable()) return;
    {
        std::unique_lock<std::mutex> hold(m_lock);
        m_changed.wait(hold, [this] { return !m_busy; });
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void SerialWorker::WaitIdle(std::unique_lock<std::mutex>& hold) {
    m_changed.wait(hold, [this] { return !m_busy; });
    if (m_failure) {
        auto failure = m_failure;
        m_failure = nullptr;
        std::rethrow_exception(failure);
    }
}

void SerialWorker::Submit(std::function<void()> job) {
    {
        std::unique_lock<std::mutex> hold(m_lock);
        WaitIdle(hold);
        m_job = std::move(job);
        m_busy = true;
        // Started at the first job: a reader made but never run (a plan's spare) costs no thread.
        if (!m_thread.joinable()) m_thread = std::thread([this] { Loop(); });
    }
    m_changed.notify_all();
}

void SerialWorker::Wait() {
    std::unique_lock<std::mutex> hold(m_lock);
    WaitIdle(hold);
}

void SerialWorker::Loop() {
    std::unique_lock<std::mutex> hold(m_lock);
    while (true) {
        m_changed.wait(hold, [this] { return m_stop || m_busy; });
        if (!m_busy) return;  // stopped
        auto job = std::move(m_job);
        hold.unlock();
        std::exception_ptr failure;
        try {
            job();
        } catch (...) {
            failure = std::current_exception();
        }
        hold.lock();
        m_failure = failure;
        m_busy = false;
        m_changed.notify_all();
    }
}

}  // namespace cosmosbackup
