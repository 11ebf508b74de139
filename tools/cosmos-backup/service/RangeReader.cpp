#include "service/RangeReader.h"

#include "format/DurableFile.h"
#include "format/GzipFile.h"
#include "support/Interruption.h"
#include "support/ToolError.h"

#include <chrono>
#include <vector>

namespace cosmosbackup {
namespace {

// A file open this long is sealed at the next page boundary, so that a slow range still
// leaves progress behind it.
constexpr std::int64_t kSealAfterSeconds = 30;

std::int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

struct RangeReader::Page {
    CloudSDKCppBridge::SItemPage items;
    std::string continuation;  // after this page; "" after the range's last
    bool last = false;
};

RangeReader::RangeReader(RangeReadSettings settings, ReadPart range, RangeCheckpoint start)
    : m_settings(std::move(settings)),
      m_store(*m_settings.store),
      m_range(std::move(range)),
      m_checkpoint(std::move(start)),
      m_filesOfEarlierRuns(m_checkpoint.files.size()) {}

RangeReader::~RangeReader() = default;

// Files of this range that no checkpoint lists were being written when the backup stopped.
void RangeReader::RemoveUnsealedFiles() const {
    for (const auto& entry : m_store.List()) {
        if (!IsRangeDataFileOf(entry.name, m_checkpoint.range)) continue;
        bool sealed = false;
        for (const auto& file : m_checkpoint.files) sealed = sealed || file.name == entry.name;
        if (!sealed) m_store.Remove(entry.name);
    }
}

void RangeReader::Open() {
    if (m_connection) return;
    m_connection = std::make_unique<Connection>(m_settings.connection);
    m_connection->Require(m_connection->bridge().OpenCosmosDBContainer("", m_settings.database, false, m_settings.container, ""),
                          "cannot open " + m_settings.database + "/" + m_settings.container);
}

std::shared_ptr<RangeReader::Page> RangeReader::Fetch(const std::string& continuation) {
    auto page = std::make_shared<Page>();
    bool more = false;
    if (!m_connection->bridge().GetCosmosDBPage(continuation, m_settings.pageSize, page->continuation, more, page->items)) {
        m_connection->Require(false, "cannot read the items after " + std::to_string(m_itemsRead) + " of them in range " +
                                         m_range.id);
    }
    page->last = !more;
    return page;
}

// A range is named by its key interval, which stays valid when the range splits.
void RangeReader::ReadFirstPage() {
    Open();
    m_firstPage = Fetch(m_checkpoint.continuation.empty() ? nlohmann::json(m_range).dump() : m_checkpoint.continuation);
}

std::vector<std::string> RangeReader::FirstPageItems() const {
    std::vector<std::string> items;
    if (m_firstPage) {
        for (std::size_t i = 0; i < m_firstPage->items.size(); ++i) items.emplace_back(m_firstPage->items.item(i));
    }
    return items;
}

void RangeReader::Run(std::atomic<std::int64_t>& itemsRead, const std::atomic<bool>& stop) {
    if (m_checkpoint.done) return;
    if (m_settings.resume) RemoveUnsealedFiles();
    Open();
    std::string continuation = m_checkpoint.continuation.empty() ? nlohmann::json(m_range).dump() : m_checkpoint.continuation;
    bool more = true;
    try {
        while (more && !stop && InterruptSignal() == 0) {
            auto page = m_firstPage ? std::move(m_firstPage) : Fetch(continuation);
            more = !page->last;
            m_writing.Submit([this, page, &itemsRead] { WritePage(*page, itemsRead); });
            continuation = page->continuation;
        }
        // Stopped short (asked to, or another range failed): what was read is sealed with the
        // continuation after it, so that the resumed run keeps it and reads on from there.
        if (more) m_writing.Submit([this, continuation] { Seal(continuation, false); });
    } catch (...) {
        // The page being written still ends before the failure is passed on; its own
        // failure, if any, is the lesser news.
        try {
            m_writing.Wait();
        } catch (...) {
        }
        throw;
    }
    m_writing.Wait();
    m_usage = ReadUsage(*m_connection);
    if (more) StopIfInterrupted("; what was read is sealed");
}

void RangeReader::WritePage(const Page& page, std::atomic<std::int64_t>& itemsRead) {
    const auto count = static_cast<std::int64_t>(page.items.size());
    if (count > 0) {
        if (!m_writer) {
            m_open = DataFile{RangeDataFileName(m_checkpoint.range, static_cast<int>(m_checkpoint.files.size())), 0, 0, {}};
            m_open.keys = KeyIntervalOf(m_range);
            m_writer = std::make_unique<GzipLineWriter>(m_store, m_open.name);
            m_openedAt = NowSeconds();
        }
        m_writer->WriteLines(page.items.bytes);  // already JSON Lines: one deflate call per page
        m_open.items += count;
    }
    if (m_settings.onPage && count > 0) m_settings.onPage(page.items);
    itemsRead += count;
    m_itemsRead += count;
    const bool full = m_writer && (m_open.items >= m_settings.itemsPerFile || NowSeconds() - m_openedAt >= kSealAfterSeconds);
    if (full || page.last) Seal(page.continuation, page.last);
}

// Closes the open file (if any), which commits it durably, and records it with the continuation
// after it: from then on a resumed backup keeps it and reads on from there.
void RangeReader::Seal(const std::string& continuation, bool last) {
    if (m_writer) {
        const StoredBytes stored = m_writer->Close();
        m_writer.reset();
        m_open.bytes = stored.bytes;
        m_open.crc32 = stored.crc32;
        m_open.md5 = stored.md5;
        m_checkpoint.files.push_back(m_open);
    }
    m_checkpoint.continuation = continuation;
    m_checkpoint.done = last;
    WriteRangeCheckpoint(m_store, m_checkpoint);
}

}  // namespace cosmosbackup
