#include "storage/EncryptedFile.h"

#include "storage/Cipher.h"
#include "support/ToolError.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>

namespace cosmosbackup {
namespace {

const std::string kMagic("CBE\x01", 4);
constexpr std::size_t kSealedSegmentSize = kPlainSegmentSize + kAeadTagSize;

std::string FileKey(const std::string& masterKey, const std::string& salt) { return DeriveKey(masterKey, salt, "cosmos-backup file"); }

std::string BigEndian(std::uint64_t value) {
    std::string bytes(8, '\0');
    for (int i = 7; i >= 0; --i, value >>= 8) bytes[static_cast<std::size_t>(i)] = static_cast<char>(value & 0xff);
    return bytes;
}

std::string NonceOf(std::uint64_t segment) { return std::string(4, '\0') + BigEndian(segment); }

std::string AssociatedData(const std::string& name, std::uint64_t segment, bool last) {
    return name + std::string(1, '\0') + BigEndian(segment) + (last ? "\x01" : std::string(1, '\0'));
}

class SealingFileWriter : public StoredFileWriter {
public:
    SealingFileWriter(std::unique_ptr<StoredFileWriter> inner, const std::string& masterKey, const std::string& name)
        : m_inner(std::move(inner)), m_sealer(masterKey, name, [this](const std::string& bytes) { m_inner->Write(bytes.data(), bytes.size()); }) {}

    void Write(const char* data, std::size_t size) override { m_sealer.Add(data, size); }
    void Commit() override {
        m_sealer.Finish();
        m_inner->Commit();
    }

private:
    std::unique_ptr<StoredFileWriter> m_inner;
    SegmentSealer m_sealer;
};

class OpeningFileReader : public StoredFileReader {
public:
    OpeningFileReader(std::unique_ptr<StoredFileReader> inner, const std::string& masterKey, const std::string& name, const std::string& where)
        : m_inner(std::move(inner)), m_masterKey(masterKey), m_name(name), m_where(where) {}

    std::size_t Read(char* buffer, std::size_t capacity) override {
        while (m_offset == m_plain.size()) {
            if (m_done) return 0;
            OpenNextSegment();
        }
        const std::size_t n = std::min(capacity, m_plain.size() - m_offset);
        std::memcpy(buffer, m_plain.data() + m_offset, n);
        m_offset += n;
        return n;
    }

private:
    [[noreturn]] void Refuse() const { throw ToolError(m_where + " is damaged or was changed: authentication failed"); }

    // Fills m_sealed up to `size` bytes; fewer only at the end of the stored file.
    void Fill(std::size_t size) {
        char chunk[16384];
        while (m_sealed.size() < size) {
            const std::size_t got = m_inner->Read(chunk, std::min(sizeof chunk, size - m_sealed.size()));
            if (got == 0) return;
            m_sealed.append(chunk, got);
        }
    }

    void ReadHeader() {
        Fill(kEncryptedHeaderSize);
        if (m_sealed.size() < kEncryptedHeaderSize || m_sealed.compare(0, kMagic.size(), kMagic) != 0) Refuse();
        m_fileKey = FileKey(m_masterKey, m_sealed.substr(kMagic.size(), kEncryptedHeaderSize - kMagic.size()));
        m_sealed.erase(0, kEncryptedHeaderSize);
    }

    // One segment more than a whole one is read, so that the last is known as such.
    void OpenNextSegment() {
        if (m_fileKey.empty()) ReadHeader();
        Fill(kSealedSegmentSize + 1);
        const bool last = m_sealed.size() <= kSealedSegmentSize;
        const std::size_t size = std::min(m_sealed.size(), kSealedSegmentSize);
        if (!OpenAead(m_fileKey, NonceOf(m_segment), AssociatedData(m_name, m_segment, last), m_sealed.data(), size, m_plain)) Refuse();
        m_sealed.erase(0, size);
        m_offset = 0;
        ++m_segment;
        m_done = last;
    }

    std::unique_ptr<StoredFileReader> m_inner;
    std::string m_masterKey, m_name, m_where;
    std::string m_fileKey;
    std::string m_sealed;  // read from the store, not yet opened
    std::string m_plain;   // the current segment's content
    std::size_t m_offset = 0;
    std::uint64_t m_segment = 0;
    bool m_done = false;
};

}  // namespace

std::int64_t PlainSizeOf(std::int64_t storedSize) {
    const std::int64_t body = storedSize - static_cast<std::int64_t>(kEncryptedHeaderSize);
    if (body < static_cast<std::int64_t>(kAeadTagSize)) return -1;
    const std::int64_t sealed = static_cast<std::int64_t>(kSealedSegmentSize);
    const std::int64_t segments = (body + sealed - 1) / sealed;
    const std::int64_t lastSize = body - (segments - 1) * sealed;
    if (lastSize < static_cast<std::int64_t>(kAeadTagSize)) return -1;
    return body - segments * static_cast<std::int64_t>(kAeadTagSize);
}

SegmentSealer::SegmentSealer(const std::string& masterKey, const std::string& name, std::function<void(const std::string&)> sink)
    : m_name(name), m_sink(std::move(sink)) {
    const std::string salt = RandomBytes(kEncryptedHeaderSize - kMagic.size());
    m_key = FileKey(masterKey, salt);
    m_sink(kMagic + salt);
}

void SegmentSealer::Add(const char* data, std::size_t size) {
    while (size > 0) {
        // A full segment is sealed only once more content follows it: the last one may be full.
        if (m_pending.size() == kPlainSegmentSize) SealSegment(false);
        const std::size_t n = std::min(size, kPlainSegmentSize - m_pending.size());
        m_pending.append(data, n);
        data += n;
        size -= n;
    }
}

void SegmentSealer::Finish() { SealSegment(true); }

void SegmentSealer::SealSegment(bool last) {
    m_sink(SealAead(m_key, NonceOf(m_segment), AssociatedData(m_name, m_segment, last), m_pending.data(), m_pending.size()));
    OPENSSL_cleanse(&m_pending[0], m_pending.size());
    m_pending.clear();
    ++m_segment;
}

std::string SealWhole(const std::string& masterKey, const std::string& name, const std::string& content) {
    std::string sealed;
    SegmentSealer sealer(masterKey, name, [&sealed](const std::string& bytes) { sealed += bytes; });
    sealer.Add(content.data(), content.size());
    sealer.Finish();
    return sealed;
}

std::unique_ptr<StoredFileWriter> SealingWriter(std::unique_ptr<StoredFileWriter> inner, const std::string& masterKey, const std::string& name) {
    return std::make_unique<SealingFileWriter>(std::move(inner), masterKey, name);
}

std::unique_ptr<StoredFileReader> OpeningReader(std::unique_ptr<StoredFileReader> inner, const std::string& masterKey, const std::string& name,
                                                const std::string& where) {
    return std::make_unique<OpeningFileReader>(std::move(inner), masterKey, name, where);
}

}  // namespace cosmosbackup
