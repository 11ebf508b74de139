#include "account/ContainerPool.h"

#include "support/Interruption.h"
#include "support/ThreadGroup.h"

#include <algorithm>
#include <atomic>
#include <exception>

namespace cosmosbackup {

std::vector<std::string> RunEachContainer(std::size_t count, std::size_t workers, Progress& progress,
                                          const std::function<void(std::size_t)>& task) {
    std::vector<std::string> errors(count);
    std::atomic<std::size_t> next{0};
    std::atomic<int> finished{0};
    progress.SetContainers(0, static_cast<int>(count));
    auto work = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            try {
                StopIfInterrupted("; not begun");  // a signal stops the run: containers not yet begun wait for the resume
                task(i);
            } catch (const std::exception& e) {
                errors[i] = e.what();
                if (errors[i].empty()) errors[i] = "failed";
            } catch (...) {
                errors[i] = "failed";
            }
            progress.SetContainers(++finished, static_cast<int>(count));
        }
    };
    ThreadGroup threads;
    for (std::size_t w = 0, n = std::max<std::size_t>(1, std::min(workers, count)); w < n; ++w) threads.Start(work);
    threads.JoinAll();
    return errors;
}

}  // namespace cosmosbackup
