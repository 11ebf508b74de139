#include "storage/BlobFileWriter.h"

#include "support/ToolError.h"

#include <cstdio>
#include <random>

namespace cosmosbackup {
namespace {

void PutBlock(const BlobClient& client, const std::string& name, const std::string& id, const std::string& block) {
    BlobCall call{"PUT", client.location().PathOf(name), {{"comp", "block"}, {"blockid", id}}, {}, block};
    call.headers["content-md5"] = Md5::OfBase64(call.body.data(), call.body.size());
    client.Call(call, "upload " + name);
}

std::string RandomHex() {
    std::random_device random;
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", random(), random());
    return text;
}

std::string EtagOf(const HttpResponse& response) {
    const auto found = response.headers.find("etag");
    return found == response.headers.end() ? "" : found->second;
}

}  // namespace

BlobFileWriter::BlobFileWriter(std::shared_ptr<const BlobClient> client, std::string name, std::size_t blockSize,
                               std::function<void(const std::string&)> committed)
    : m_client(std::move(client)),
      m_name(std::move(name)),
      m_blockSize(blockSize),
      m_committed(std::move(committed)),
      m_idPrefix(RandomHex()) {
    RequirePlainName(m_name);
    m_block.reserve(m_blockSize);
}

BlobFileWriter::~BlobFileWriter() {
    // Uploads still running use this writer's client and name: let them end first. Their
    // failures no longer matter: the blob is not committed.
    for (auto& upload : m_uploads) {
        if (upload.valid()) upload.wait();
    }
}

void BlobFileWriter::Fail(const std::string& why) {
    m_failure = why;
    throw ToolError(why);
}

void BlobFileWriter::RequireUsable() const {
    if (!m_failure.empty()) throw ToolError(m_failure);
}

void BlobFileWriter::Write(const char* data, std::size_t size) {
    RequireUsable();
    while (size > 0) {
        const std::size_t n = std::min(size, m_blockSize - m_block.size());
        m_block.append(data, n);
        m_md5.Add(data, n);
        data += n;
        size -= n;
        if (m_block.size() == m_blockSize) StageBlock();
    }
}

// Takes the oldest upload off the queue before its result, so that a failure leaves no
// spent future behind.
void BlobFileWriter::WaitForOldest() {
    auto upload = std::move(m_uploads.front());
    m_uploads.pop_front();
    try {
        upload.get();
    } catch (const ToolError& e) {
        Fail(e.what());
    } catch (const std::exception& e) {
        Fail("cannot upload " + m_name + ": " + e.what());
    }
}

void BlobFileWriter::StageBlock() {
    while (m_uploads.size() >= kBlocksInFlight) WaitForOldest();
    if (m_blockIds.size() == kMaxBlocks) {
        Fail("cannot upload " + m_name + ": it would grow past the " + std::to_string(kMaxBlocks) + " blocks of " +
             std::to_string(m_blockSize >> 20) + " MiB a blob can hold; write smaller files (--items-per-file)");
    }
    // Block ids are base64 of equal-length texts, as the service requires within one blob.
    char index[16];
    std::snprintf(index, sizeof index, "-%08zu", m_blockIds.size());
    m_blockIds.push_back(EncodeBase64(m_idPrefix + index));
    try {
        m_uploads.push_back(std::async(std::launch::async, PutBlock, std::cref(*m_client), std::cref(m_name),
                                       m_blockIds.back(), std::move(m_block)));
    } catch (const std::exception& e) {
        Fail("cannot upload " + m_name + ": " + e.what());
    }
    m_block = std::string();
    m_block.reserve(m_blockSize);
}

void BlobFileWriter::Commit() {
    RequireUsable();
    const std::string wholeMd5 = m_md5.FinishBase64();
    BlobCall call{"PUT", m_client->location().PathOf(m_name), {}, {}, {}};
    call.headers["x-ms-blob-content-md5"] = wholeMd5;
    if (m_blockIds.empty()) {
        // A file of one block at most goes up in one request.
        call.headers["x-ms-blob-type"] = "BlockBlob";
        call.headers["content-md5"] = wholeMd5;
        call.body = std::move(m_block);
    } else {
        if (!m_block.empty()) StageBlock();
        while (!m_uploads.empty()) WaitForOldest();
        call.query["comp"] = "blocklist";
        call.body = "<?xml version=\"1.0\" encoding=\"utf-8\"?><BlockList>";
        for (const auto& id : m_blockIds) call.body += "<Latest>" + id + "</Latest>";
        call.body += "</BlockList>";
        call.headers["content-md5"] = Md5::OfBase64(call.body.data(), call.body.size());
    }
    HttpResponse response;
    try {
        response = m_client->Call(call, "upload " + m_name);
    } catch (const ToolError& e) {
        Fail(e.what());
    }
    m_failure = "cannot upload " + m_name + ": it is committed already";
    if (m_committed) m_committed(EtagOf(response));
}

}  // namespace cosmosbackup
