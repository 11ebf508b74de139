#pragma once

#include "storage/BackupStore.h"
#include "storage/BlobClient.h"
#include "storage/Digest.h"

#include <deque>
#include <future>
#include <memory>

namespace cosmosbackup {

// Uploads a block blob while it is written: every full block goes up (Put Block, with its
// Content-MD5) on a thread of its own, at most kBlocksInFlight at a time, so that memory stays
// under (kBlocksInFlight + 1) blocks whatever the file's size. Commit puts the block list with
// the MD5 of the whole file (a file of one block goes up whole, in one request); until then the
// blob is not there (or keeps its previous content).
class BlobFileWriter : public StoredFileWriter {
public:
    static constexpr std::size_t kBlocksInFlight = 3;

    BlobFileWriter(std::shared_ptr<const BlobClient> client, std::string name, std::size_t blockSize);
    ~BlobFileWriter() override;

    void Write(const char* data, std::size_t size) override;
    void Commit() override;

private:
    void StageBlock();
    void WaitForAll();

    std::shared_ptr<const BlobClient> m_client;
    std::string m_name;
    std::size_t m_blockSize;
    std::string m_block;
    std::vector<std::string> m_blockIds;
    Md5 m_md5;
    std::deque<std::future<void>> m_uploads;
};

}  // namespace cosmosbackup
