#pragma once

#include "support/Progress.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace cosmosbackup {

// Runs `task(i)` for i in [0, count), `workers` at a time, each on a thread of its own. A task
// that throws does not stop the others: its message is kept at its index ("" for a task that
// succeeded). `progress` counts the tasks finished. After SIGINT or SIGTERM no task begins.
std::vector<std::string> RunEachContainer(std::size_t count, std::size_t workers, Progress& progress,
                                          const std::function<void(std::size_t)>& task);

}  // namespace cosmosbackup
