#include "format/GzipStream.h"

#include "support/ToolError.h"

#include <cstdio>

namespace cosmosbackup {
namespace {

// Level 3: most of the size gain of the default level at a fraction of its time.
constexpr int kLevel = 3;
constexpr int kGzipWindow = 15 + 16;  // zlib's way of asking for a gzip header and trailer
constexpr std::size_t kStreamChunk = 1 << 16;

}  // namespace

std::string Crc32Hex(uLong crc) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08lx", static_cast<unsigned long>(crc));
    return hex;
}

GzipOutput::GzipOutput(std::unique_ptr<StoredFileWriter> file, std::string name)
    : m_file(std::move(file)), m_name(std::move(name)), m_out(kStreamChunk, '\0'), m_crc(crc32(0L, Z_NULL, 0)) {
    if (deflateInit2(&m_zlib, kLevel, Z_DEFLATED, kGzipWindow, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw ToolError("cannot start compressing " + m_name);
    }
}

GzipOutput::~GzipOutput() { deflateEnd(&m_zlib); }

void GzipOutput::Deflate(int flush) {
    do {
        m_zlib.next_out = reinterpret_cast<Bytef*>(m_out.data());
        m_zlib.avail_out = static_cast<uInt>(m_out.size());
        const int result = deflate(&m_zlib, flush);
        if (result == Z_STREAM_ERROR) throw ToolError("cannot compress " + m_name);
        const std::size_t produced = m_out.size() - m_zlib.avail_out;
        if (produced > 0) {
            m_file->Write(m_out.data(), produced);
            m_crc = crc32(m_crc, reinterpret_cast<const Bytef*>(m_out.data()), static_cast<uInt>(produced));
            m_bytes += static_cast<std::int64_t>(produced);
        }
    } while (m_zlib.avail_out == 0);
}

void GzipOutput::Write(const char* data, std::size_t size) {
    while (size > 0) {
        const auto piece = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        m_zlib.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        m_zlib.avail_in = piece;
        Deflate(Z_NO_FLUSH);
        data += piece;
        size -= piece;
    }
}

StoredBytes GzipOutput::Finish() {
    m_zlib.avail_in = 0;
    Deflate(Z_FINISH);
    m_file->Commit();
    return StoredBytes{m_bytes, Crc32Hex(m_crc)};
}

GzipInput::GzipInput(std::unique_ptr<StoredFileReader> file, std::string name)
    : m_file(std::move(file)), m_name(std::move(name)) {
    if (inflateInit2(&m_zlib, kGzipWindow) != Z_OK) throw ToolError("cannot start decompressing " + m_name);
}

GzipInput::~GzipInput() { inflateEnd(&m_zlib); }

bool GzipInput::FillInput() {
    m_in.resize(kStreamChunk);
    const std::size_t got = m_file->Read(m_in.data(), m_in.size());
    m_in.resize(got);
    if (!m_started) {
        m_started = true;
        if (got < 2 || static_cast<unsigned char>(m_in[0]) != 0x1f || static_cast<unsigned char>(m_in[1]) != 0x8b) {
            throw ToolError(m_name + " is not a gzip file");
        }
    }
    m_zlib.next_in = reinterpret_cast<Bytef*>(m_in.data());
    m_zlib.avail_in = static_cast<uInt>(got);
    return got > 0;
}

std::size_t GzipInput::Read(char* buffer, std::size_t capacity) {
    if (m_ended || capacity == 0) return 0;
    m_zlib.next_out = reinterpret_cast<Bytef*>(buffer);
    m_zlib.avail_out = static_cast<uInt>(std::min<std::size_t>(capacity, 1u << 30));
    while (m_zlib.avail_out == static_cast<uInt>(std::min<std::size_t>(capacity, 1u << 30))) {
        if (m_zlib.avail_in == 0 && !FillInput()) throw ToolError(m_name + " is truncated");
        const int result = inflate(&m_zlib, Z_NO_FLUSH);
        if (result == Z_STREAM_END) {
            m_ended = true;
            char extra = 0;
            if (m_zlib.avail_in > 0 || m_file->Read(&extra, 1) > 0) throw ToolError(m_name + " has data after its end");
            break;
        }
        if (result != Z_OK && result != Z_BUF_ERROR) {
            throw ToolError(m_name + " is damaged: " + (m_zlib.msg != nullptr ? m_zlib.msg : "invalid data"));
        }
    }
    return std::min<std::size_t>(capacity, 1u << 30) - m_zlib.avail_out;
}

}  // namespace cosmosbackup
