#pragma once

#include <thread>
#include <utility>
#include <vector>

namespace cosmosbackup {

// Threads that are joined however the scope that started them is left.
class ThreadGroup {
public:
    ThreadGroup() = default;
    ThreadGroup(const ThreadGroup&) = delete;
    ThreadGroup& operator=(const ThreadGroup&) = delete;
    ~ThreadGroup() { JoinAll(); }

    template <typename F>
    void Start(F&& body) { m_threads.emplace_back(std::forward<F>(body)); }

    void JoinAll() {
        for (auto& t : m_threads) {
            if (t.joinable()) t.join();
        }
    }

private:
    std::vector<std::thread> m_threads;
};

}  // namespace cosmosbackup
