#pragma once

#include "storage/BackupStore.h"
#include "storage/BlobClient.h"
#include "storage/Digest.h"

#include <memory>

namespace cosmosbackup {

// Reads a blob range by range (memory: one range), every range pinned by If-Match to the
// version whose size and MD5 were read first, and checks the whole blob's MD5 at its end.
// With `expectedEtag`, that first look is itself pinned: a blob that is no longer in that
// version is refused before any byte of it is read.
class BlobFileReader : public StoredFileReader {
public:
    static constexpr std::size_t kRangeSize = 4 << 20;

    BlobFileReader(std::shared_ptr<const BlobClient> client, std::string name, const std::string& expectedEtag = "");
    std::size_t Read(char* buffer, std::size_t capacity) override;
    const std::string& etag() const { return m_etag; }

private:
    void FetchNextRange();

    std::shared_ptr<const BlobClient> m_client;
    std::string m_name;
    std::string m_etag;
    std::string m_storedMd5;
    std::uint64_t m_size = 0;
    std::uint64_t m_fetched = 0;
    std::string m_range;
    std::size_t m_rangePos = 0;
    Md5 m_md5;
    bool m_checked = false;
};

}  // namespace cosmosbackup
