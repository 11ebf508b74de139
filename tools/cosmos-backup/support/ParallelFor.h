#pragma once

#include <cstddef>
#include <functional>

namespace cosmosbackup {

// Runs task(0) .. task(count - 1) on up to `workers` threads of their own, each index once.
// The first task that throws stops the handing out of further indexes; once every thread has
// ended, its exception is rethrown here.
void ParallelFor(std::size_t count, std::size_t workers, const std::function<void(std::size_t)>& task);

}  // namespace cosmosbackup
