#pragma once

#include "format/BackupCheckpoint.h"
#include "service/Connection.h"
#include "service/RequestUsage.h"
#include "storage/BackupStore.h"
#include "support/Semaphore.h"
#include "support/SerialWorker.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cosmosbackup {

class GzipLineWriter;

struct RangeReadSettings {
    ConnectionOptions connection;
    std::string database;
    std::string container;
    BackupStore* store = nullptr;  // shared by the ranges: each writes files of its own
    long long pageSize = 1000;
    std::int64_t itemsPerFile = 100000;
    bool resume = false;  // files an interrupted run left unsealed may be there
    // Sees every page as it is written (from the reader's writing thread), if set.
    std::function<void(const CloudSDKCppBridge::SItemPage&)> onPage;
    Semaphore* readerSlots = nullptr;  // bounds the readers of a whole run (none: --parallel alone)
};

// Reads one key range of a container into data files of its own, on its own bridge object (so
// ranges can be read on several threads at once), fetching the next page while the last one
// is being compressed (on the reader's one writing thread). Each file is sealed at a page boundary once it holds itemsPerFile
// items (or has been open for a while) and then, durably, the range's checkpoint records it
// with the continuation after it; an interrupted read goes on from there, and a file that was
// not sealed yet is written again.
class RangeReader {
public:
    RangeReader(RangeReadSettings settings, ReadPart range, RangeCheckpoint start);
    ~RangeReader();
    RangeReader(const RangeReader&) = delete;
    RangeReader& operator=(const RangeReader&) = delete;

    // Reads the range's first page and keeps it for Run, which writes it first: a look at
    // what the service answers before anything is written. Throws ToolError.
    void ReadFirstPage();
    // The items of the page ReadFirstPage read (none before it).
    std::vector<std::string> FirstPageItems() const;

    // Reads to the range's end, or until `stop` is set (between pages). Items read are added
    // to `itemsRead` as they are written. Throws ToolError.
    void Run(std::atomic<std::int64_t>& itemsRead, const std::atomic<bool>& stop);

    const RangeCheckpoint& checkpoint() const { return m_checkpoint; }
    // How many of checkpoint().files an earlier run sealed (the first ones).
    std::size_t filesOfEarlierRuns() const { return m_filesOfEarlierRuns; }
    const RequestUsage& usage() const { return m_usage; }

private:
    struct Page;
    void Open();
    std::shared_ptr<Page> Fetch(const std::string& continuation);
    void RemoveUnsealedFiles() const;
    void WritePage(const Page& page, std::atomic<std::int64_t>& itemsRead);
    void Seal(const std::string& continuation, bool last);
    RangeReadSettings m_settings;
    BackupStore& m_store;
    ReadPart m_range;
    RangeCheckpoint m_checkpoint;
    std::size_t m_filesOfEarlierRuns = 0;
    RequestUsage m_usage;
    std::unique_ptr<Connection> m_connection;  // opened at the first read
    std::shared_ptr<Page> m_firstPage;         // read ahead by ReadFirstPage, not written yet
    std::unique_ptr<GzipLineWriter> m_writer;
    DataFile m_open;
    std::int64_t m_openedAt = 0;
    std::atomic<std::int64_t> m_itemsRead{0};  // by this run, for error texts
    SerialWorker m_writing;  // writes each page while the next one is read; last, so it ends first
};

}  // namespace cosmosbackup
