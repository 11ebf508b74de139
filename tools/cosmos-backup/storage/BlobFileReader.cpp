#include "storage/BlobFileReader.h"

#include "support/ToolError.h"

#include <algorithm>
#include <cstring>

namespace cosmosbackup {
namespace {

std::string HeaderOf(const HttpResponse& response, const char* name) {
    const auto found = response.headers.find(name);
    return found == response.headers.end() ? "" : found->second;
}

}  // namespace

BlobFileReader::BlobFileReader(std::shared_ptr<const BlobClient> client, std::string name, const std::string& expectedEtag)
    : m_client(std::move(client)), m_name(std::move(name)) {
    RequirePlainName(m_name);
    BlobCall head{"HEAD", m_client->location().PathOf(m_name), {}, {}, {}};
    if (!expectedEtag.empty()) head.headers["if-match"] = expectedEtag;
    const auto response = m_client->Call(head, "read " + m_name, {404, 412});
    if (response.status == 404 && expectedEtag.empty()) throw ToolError(m_name + " does not exist in " + m_client->location().url);
    if (response.status == 404 || response.status == 412) {
        throw ToolError(m_name + " in " + m_client->location().url + " was replaced or removed since this run checked it; "
                        "another process is writing there. Nothing more is read from it: run the command again once that "
                        "process has finished");
    }
    if (HeaderOf(response, "x-ms-blob-type") != "BlockBlob") throw ToolError(m_name + " is not a block blob");
    m_etag = HeaderOf(response, "etag");
    m_storedMd5 = HeaderOf(response, "content-md5");
    try {
        m_size = std::stoull(HeaderOf(response, "content-length"));
    } catch (const std::exception&) {
        throw ToolError("the storage service gave no size for " + m_name);
    }
}

void BlobFileReader::FetchNextRange() {
    const std::uint64_t last = std::min<std::uint64_t>(m_size, m_fetched + kRangeSize) - 1;
    BlobCall call{"GET", m_client->location().PathOf(m_name), {}, {}, {}, kRangeSize};
    call.headers["x-ms-range"] = "bytes=" + std::to_string(m_fetched) + "-" + std::to_string(last);
    if (!m_etag.empty()) call.headers["if-match"] = m_etag;
    auto response = m_client->Call(call, "read " + m_name, {412});
    if (response.status == 412) throw ToolError(m_name + " changed while it was being read");
    if (response.body.size() != last - m_fetched + 1) throw ToolError(m_name + " came back shorter than its stated size");
    m_fetched += response.body.size();
    m_md5.Add(response.body.data(), response.body.size());
    m_range = std::move(response.body);
    m_rangePos = 0;
}

std::size_t BlobFileReader::Read(char* buffer, std::size_t capacity) {
    if (m_rangePos == m_range.size()) {
        if (m_fetched == m_size) {
            if (!m_checked && !m_storedMd5.empty() && m_md5.FinishBase64() != m_storedMd5) {
                throw ToolError(m_name + " does not match its stored MD5");
            }
            m_checked = true;
            return 0;
        }
        FetchNextRange();
    }
    const std::size_t n = std::min(capacity, m_range.size() - m_rangePos);
    std::memcpy(buffer, m_range.data() + m_rangePos, n);
    m_rangePos += n;
    return n;
}

}  // namespace cosmosbackup
