#pragma once

#include "storage/BackupStore.h"
#include "storage/BlobClient.h"
#include "storage/Digest.h"

#include <deque>
#include <functional>
#include <future>
#include <memory>

namespace cosmosbackup {

// Uploads a block blob while it is written: every full block goes up (Put Block, with its
// Content-MD5) on a thread of its own, at most kBlocksInFlight at a time, so that memory stays
// under (kBlocksInFlight + 1) blocks whatever the file's size. Commit puts the block list with
// the MD5 of the whole file (a file of one block goes up whole, in one request); until then the
// blob is not there (or keeps its previous content).
//
// Block ids carry a random part of this writer's own, so that two writers of one name (two
// runs that should not both be there) never commit each other's blocks. A failed upload is the
// writer's ToolError, raised by the Write or Commit that finds it; the writer is then spent, and
// its destructor only waits for the uploads still running (it never throws).
class BlobFileWriter : public StoredFileWriter {
public:
    static constexpr std::size_t kBlocksInFlight = 3;
    static constexpr std::size_t kMaxBlocks = 50000;  // the service's limit for one blob

    // `committed` is told the ETag of the new blob once Commit succeeded.
    BlobFileWriter(std::shared_ptr<const BlobClient> client, std::string name, std::size_t blockSize,
                   std::function<void(const std::string& etag)> committed = {});
    ~BlobFileWriter() override;

    void Write(const char* data, std::size_t size) override;
    void Commit() override;

private:
    void StageBlock();
    void WaitForOldest();
    void RequireUsable() const;
    [[noreturn]] void Fail(const std::string& why);

    std::shared_ptr<const BlobClient> m_client;
    std::string m_name;
    std::size_t m_blockSize;
    std::function<void(const std::string&)> m_committed;
    std::string m_idPrefix;
    std::string m_block;
    std::vector<std::string> m_blockIds;
    Md5 m_md5;
    std::deque<std::future<void>> m_uploads;
    std::string m_failure;
};

}  // namespace cosmosbackup
