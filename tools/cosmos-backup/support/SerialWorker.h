#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace cosmosbackup {

// One long-lived thread that runs the jobs handed to it one at a time, while the thread that
// hands them over goes on with other work: a job may run beside the next one's preparation,
// never beside another job. A job's exception is thrown to the caller at the next Submit or
// Wait. The thread starts with the first job and ends with the object.
class SerialWorker {
public:
    SerialWorker() = default;
    ~SerialWorker();
    SerialWorker(const SerialWorker&) = delete;
    SerialWorker& operator=(const SerialWorker&) = delete;

    // Waits for the job before (throwing its exception, if it failed), then starts `job`.
    void Submit(std::function<void()> job);
    // Waits for the job running, if any; throws its exception, if it failed.
    void Wait();

private:
    void Loop();
    void WaitIdle(std::unique_lock<std::mutex>& hold);

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::function<void()> m_job;
    bool m_busy = false;
    bool m_stop = false;
    std::exception_ptr m_failure;
    std::thread m_thread;
};

}  // namespace cosmosbackup
