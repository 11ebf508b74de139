#include "service/ParallelRangeRead.h"

#include "support/ThreadGroup.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace cosmosbackup {
RangeReaders MakeRangeReaders(const RangeReadSettings& settings, const std::vector<ReadPart>& ranges,
                              Progress* progress) {
    RangeReaders readers;
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        RangeCheckpoint checkpoint;
        checkpoint.range = static_cast<int>(i);
        if (settings.resume) {
            checkpoint = ReadRangeCheckpoint(*settings.store, static_cast<int>(i));
            std::int64_t sealed = 0;
            for (const auto& f : checkpoint.files) sealed += f.items;
            if (progress) progress->Add(sealed);
        }
        readers.push_back(std::make_unique<RangeReader>(settings, ranges[i], std::move(checkpoint)));
    }
    return readers;
}

RangesRead RunRangeReaders(RangeReaders& readers, int parallelism, Progress& progress, Semaphore* readerSlots) {
    std::atomic<std::size_t> next{0};
    std::atomic<std::int64_t> itemsRead{0};
    std::atomic<bool> stop{false};
    std::atomic<int> running{0};
    std::mutex failureLock;
    std::exception_ptr failure;
    {
        ThreadGroup threads;
        const int workers = std::max(1, std::min<int>(parallelism, static_cast<int>(readers.size())));
        running = workers;
        for (int w = 0; w < workers; ++w) {
            threads.Start([&] {
                for (std::size_t i = next++; i < readers.size() && !stop; i = next++) {
                    try {
                        const SemaphoreHold slot(readerSlots);
                        if (stop) break;
                        readers[i]->Run(itemsRead, stop);
                    } catch (...) {
                        std::lock_guard<std::mutex> hold(failureLock);
                        if (!failure) failure = std::current_exception();
                        stop = true;
                    }
                }
                --running;
            });
        }
        std::int64_t shown = 0;
        while (running > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const std::int64_t now = itemsRead;
            progress.Add(now - shown);
            shown = now;
        }
        threads.JoinAll();
        progress.Add(itemsRead - shown);
    }
    if (failure) std::rethrow_exception(failure);

    RangesRead result;
    for (const auto& reader : readers) {
        const auto& files = reader->checkpoint().files;
        result.files.insert(result.files.end(), files.begin(), files.end());
        result.filesOfEarlierRuns.insert(result.filesOfEarlierRuns.end(), files.begin(),
                                         files.begin() + static_cast<std::ptrdiff_t>(reader->filesOfEarlierRuns()));
        result.usage += reader->usage();
        result.endContinuations.push_back(reader->checkpoint().continuation);
    }
    return result;
}

}  // namespace cosmosbackup
