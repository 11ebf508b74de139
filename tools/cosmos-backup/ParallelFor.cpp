#include "ParallelFor.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace cosmosbackup {

void ParallelFor(std::size_t count, std::size_t workers, const std::function<void(std::size_t)>& task) {
    std::atomic<std::size_t> next{0};
    std::mutex failureLock;
    std::exception_ptr failure;
    auto work = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            try {
                task(i);
            } catch (...) {
                std::lock_guard<std::mutex> hold(failureLock);
                if (!failure) failure = std::current_exception();
                next = count;
            }
        }
    };
    std::vector<std::thread> threads;
    const std::size_t started = std::max<std::size_t>(1, std::min(workers, count));
    try {
        for (std::size_t w = 0; w < started; ++w) threads.emplace_back(work);
    } catch (...) {
        next = count;  // a thread that could not start: the others finish what they hold
        for (auto& t : threads) t.join();
        throw;
    }
    for (auto& t : threads) t.join();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace cosmosbackup
