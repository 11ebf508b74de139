#include "support/ParallelFor.h"

#include "support/ThreadGroup.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>

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
    {
        ThreadGroup threads;
        // A thread that cannot start ends the handing out; the others finish what they hold
        // before the failure leaves this scope.
        try {
            for (std::size_t w = 0, n = std::max<std::size_t>(1, std::min(workers, count)); w < n; ++w) threads.Start(work);
        } catch (...) {
            next = count;
            throw;
        }
    }
    if (failure) std::rethrow_exception(failure);
}

}  // namespace cosmosbackup
