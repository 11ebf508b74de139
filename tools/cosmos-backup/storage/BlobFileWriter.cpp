#include "storage/BlobFileWriter.h"

#include "support/ToolError.h"

#include <cstdio>

namespace cosmosbackup {
namespace {

void PutBlock(const BlobClient& client, const std::string& name, const std::string& id, std::string block) {
    BlobCall call{"PUT", client.location().PathOf(name), {{"comp", "block"}, {"blockid", id}}, {}, std::move(block)};
    call.headers["content-md5"] = Md5::OfBase64(call.body.data(), call.body.size());
    client.Call(call, "upload " + name);
}

}  // namespace

BlobFileWriter::BlobFileWriter(std::shared_ptr<const BlobClient> client, std::string name, std::size_t blockSize)
    : m_client(std::move(client)), m_name(std::move(name)), m_blockSize(blockSize) {
    RequirePlainName(m_name);
    m_block.reserve(m_blockSize);
}

BlobFileWriter::~BlobFileWriter() {
    // Uploads still running use this writer's client and name: let them end first.
    for (auto& upload : m_uploads) upload.wait();
}

void BlobFileWriter::Write(const char* data, std::size_t size) {
    while (size > 0) {
        const std::size_t n = std::min(size, m_blockSize - m_block.size());
        m_block.append(data, n);
        m_md5.Add(data, n);
        data += n;
        size -= n;
        if (m_block.size() == m_blockSize) StageBlock();
    }
}

void BlobFileWriter::StageBlock() {
    while (m_uploads.size() >= kBlocksInFlight) {
        m_uploads.front().get();  // rethrows the upload's failure
        m_uploads.pop_front();
    }
    // Block ids are base64 of equal-length texts, as the service requires within one blob.
    char id[16];
    std::snprintf(id, sizeof id, "block-%08zu", m_blockIds.size());
    m_blockIds.push_back(EncodeBase64(id));
    m_uploads.push_back(std::async(std::launch::async, PutBlock, std::cref(*m_client), std::cref(m_name),
                                   m_blockIds.back(), std::move(m_block)));
    m_block = std::string();
    m_block.reserve(m_blockSize);
}

void BlobFileWriter::WaitForAll() {
    while (!m_uploads.empty()) {
        m_uploads.front().get();
        m_uploads.pop_front();
    }
}

void BlobFileWriter::Commit() {
    const std::string wholeMd5 = m_md5.FinishBase64();
    if (m_blockIds.empty()) {
        // A file of one block at most goes up in one request.
        BlobCall call{"PUT", m_client->location().PathOf(m_name), {}, {{"x-ms-blob-type", "BlockBlob"}}, std::move(m_block)};
        call.headers["content-md5"] = wholeMd5;
        call.headers["x-ms-blob-content-md5"] = wholeMd5;
        m_client->Call(call, "upload " + m_name);
        return;
    }
    if (!m_block.empty()) StageBlock();
    WaitForAll();
    BlobCall call{"PUT", m_client->location().PathOf(m_name), {{"comp", "blocklist"}}, {}, {}};
    call.body = "<?xml version=\"1.0\" encoding=\"utf-8\"?><BlockList>";
    for (const auto& id : m_blockIds) call.body += "<Latest>" + id + "</Latest>";
    call.body += "</BlockList>";
    call.headers["content-md5"] = Md5::OfBase64(call.body.data(), call.body.size());
    call.headers["x-ms-blob-content-md5"] = wholeMd5;
    m_client->Call(call, "upload " + m_name);
}

}  // namespace cosmosbackup
