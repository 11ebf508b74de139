#include "GzipFile.h"

#include "ToolError.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace cosmosbackup {

namespace {
// Level 3: most of the size gain of the default level at a fraction of its time.
constexpr const char* kWriteMode = "wb3";
constexpr unsigned kChunk = 1 << 16;
}  // namespace

GzipLineWriter::GzipLineWriter(const std::string& path) : m_path(path), m_file(gzopen(path.c_str(), kWriteMode)) {
    if (m_file == nullptr) throw ToolError("cannot create " + path);
    gzbuffer(m_file, kChunk);
}

GzipLineWriter::~GzipLineWriter() {
    if (m_file != nullptr) gzclose(m_file);
}

void GzipLineWriter::WriteLine(const std::string& line) {
    if (!line.empty() && gzwrite(m_file, line.data(), static_cast<unsigned>(line.size())) == 0) {
        throw ToolError("cannot write " + m_path);
    }
    if (gzputc(m_file, '\n') == -1) throw ToolError("cannot write " + m_path);
}

void GzipLineWriter::Close() {
    gzFile file = m_file;
    m_file = nullptr;
    if (gzclose(file) != Z_OK) throw ToolError("cannot finish " + m_path);
}

namespace {

gzFile OpenGzipInput(const std::string& path) {
    off_t size = 0;
    FileDescriptor fd = OpenRegularFile(path, size);
    RequireGzipMagic(fd.get(), path);
    gzFile file = gzdopen(fd.get(), "rb");
    if (file == nullptr) throw ToolError("cannot open " + path);
    fd.Release();  // gzclose closes it now
    return file;
}

}  // namespace

GzipLineReader::GzipLineReader(const std::string& path, std::size_t maxLineBytes)
    : m_path(path), m_maxLineBytes(maxLineBytes), m_file(OpenGzipInput(path)) {
    gzbuffer(m_file, kChunk);
}

GzipLineReader::~GzipLineReader() {
    if (m_file != nullptr) gzclose(m_file);
}

bool GzipLineReader::Fill() {
    if (m_eof) return false;
    if (m_pos > 0) {
        m_buffer.erase(0, m_pos);
        m_pos = 0;
    }
    const std::size_t old = m_buffer.size();
    m_buffer.resize(old + kChunk);
    const int got = gzread(m_file, m_buffer.data() + old, kChunk);
    if (got < 0) {
        int code = 0;
        throw ToolError(m_path + " is damaged: " + gzerror(m_file, &code));
    }
    m_buffer.resize(old + static_cast<std::size_t>(got));
    if (got == 0) {
        m_eof = true;
        // A truncated gzip stream reads as a short file without an error from gzread.
        int code = 0;
        gzerror(m_file, &code);
        if (code != Z_OK && code != Z_BUF_ERROR) throw ToolError(m_path + " is damaged");
        if (code == Z_BUF_ERROR) throw ToolError(m_path + " is truncated");
    }
    return got > 0;
}

bool GzipLineReader::ReadLine(std::string& line) {
    while (true) {
        const auto end = m_buffer.find('\n', m_pos);
        if (end != std::string::npos && end - m_pos <= m_maxLineBytes) {
            line.assign(m_buffer, m_pos, end - m_pos);
            m_pos = end + 1;
            return true;
        }
        // Checked before reading more, so a crafted endless line costs at most the limit.
        if (m_buffer.size() - m_pos > m_maxLineBytes) {
            throw ToolError(m_path + " has a line longer than " + std::to_string(m_maxLineBytes) + " bytes");
        }
        if (!Fill()) {
            if (m_pos < m_buffer.size()) throw ToolError(m_path + " ends inside a line");
            return false;
        }
    }
}

std::string FileCrc32(const std::string& path) {
    off_t size = 0;
    const FileDescriptor fd = OpenRegularFile(path, size);
    uLong crc = crc32(0L, Z_NULL, 0);
    std::array<char, kChunk> chunk{};
    while (true) {
        const ssize_t got = ::read(fd.get(), chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw ToolError("cannot read " + path + ": " + std::strerror(errno));
        if (got == 0) break;
        crc = crc32(crc, reinterpret_cast<const Bytef*>(chunk.data()), static_cast<uInt>(got));
    }
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08lx", static_cast<unsigned long>(crc));
    return hex;
}

}  // namespace cosmosbackup
