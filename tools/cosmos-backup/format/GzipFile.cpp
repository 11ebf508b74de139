#include "format/GzipFile.h"

#include "storage/DirectoryStore.h"
#include "support/ToolError.h"

#include <array>
#include <filesystem>

namespace cosmosbackup {

namespace {
constexpr std::size_t kReadChunk = 1 << 16;

std::string Where(const BackupStore& store, const std::string& name) { return store.Describe() + "/" + name; }

DirectoryStore StoreOf(const std::string& path) {
    const auto parent = std::filesystem::path(path).parent_path().string();
    return DirectoryStore(parent.empty() ? "." : parent);
}

std::string NameOf(const std::string& path) { return std::filesystem::path(path).filename().string(); }
}  // namespace

GzipLineWriter::GzipLineWriter(BackupStore& store, const std::string& name)
    : m_out(std::make_unique<GzipOutput>(store.OpenWrite(name), Where(store, name))) {}

GzipLineWriter::GzipLineWriter(const std::string& path) {
    auto store = StoreOf(path);
    m_out = std::make_unique<GzipOutput>(store.OpenWrite(NameOf(path)), path);
}

void GzipLineWriter::WriteLine(std::string_view line) {
    m_out->Write(line.data(), line.size());
    m_out->Write("\n", 1);
}

void GzipLineWriter::WriteLines(std::string_view lines) { m_out->Write(lines.data(), lines.size()); }

StoredBytes GzipLineWriter::Close() { return m_out->Finish(); }

GzipLineReader::GzipLineReader(const BackupStore& store, const std::string& name, std::size_t maxLineBytes)
    : m_where(Where(store, name)),
      m_maxLineBytes(maxLineBytes),
      m_in(std::make_unique<GzipInput>(store.OpenRead(name), m_where)) {}

GzipLineReader::GzipLineReader(const std::string& path, std::size_t maxLineBytes)
    : m_where(path), m_maxLineBytes(maxLineBytes) {
    m_in = std::make_unique<GzipInput>(StoreOf(path).OpenRead(NameOf(path)), path);
}

bool GzipLineReader::Fill() {
    if (m_eof) return false;
    if (m_pos > 0) {
        m_buffer.erase(0, m_pos);
        m_pos = 0;
    }
    const std::size_t old = m_buffer.size();
    m_buffer.resize(old + kReadChunk);
    const std::size_t got = m_in->Read(m_buffer.data() + old, kReadChunk);
    m_buffer.resize(old + got);
    m_eof = got == 0;
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
            throw ToolError(m_where + " has a line longer than " + std::to_string(m_maxLineBytes) + " bytes");
        }
        if (!Fill()) {
            if (m_pos < m_buffer.size()) throw ToolError(m_where + " ends inside a line");
            return false;
        }
    }
}

std::string FileCrc32(const BackupStore& store, const std::string& name) {
    auto reader = store.OpenRead(name);
    uLong crc = crc32(0L, Z_NULL, 0);
    std::array<char, kReadChunk> chunk{};
    while (const auto got = reader->Read(chunk.data(), chunk.size())) {
        crc = crc32(crc, reinterpret_cast<const Bytef*>(chunk.data()), static_cast<uInt>(got));
    }
    return Crc32Hex(crc);
}

std::string FileCrc32(const std::string& path) { return FileCrc32(StoreOf(path), NameOf(path)); }

}  // namespace cosmosbackup
