#pragma once

#include "storage/BackupStore.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace cosmosbackup {

// The content of a file of an encrypted location:
//   header: "CBE" 0x01 (magic and format version), then a random 32-byte salt;
//   segments: each up to kPlainSegmentSize bytes of the content, sealed with AES-256-GCM under
//   the file's key (HKDF-SHA256 of the master key and the salt), its nonce the segment's number
//   and its additional data the file's logical name, that number and whether it is the last.
// Every segment but the last is full; an empty file is one empty last segment. So a file cut
// short, segments reordered, a file renamed over another or taken from another location (other
// master key) all fail authentication.
inline constexpr std::size_t kPlainSegmentSize = 64 * 1024;
inline constexpr std::size_t kEncryptedHeaderSize = 4 + 32;

// The content's size, from the stored size and the segment layout (-1 when no sealed file
// can have that size).
std::int64_t PlainSizeOf(std::int64_t storedSize);

// Seals content as it comes, one segment at a time, handing the sealed bytes to `sink`.
class SegmentSealer {
public:
    SegmentSealer(const std::string& masterKey, const std::string& name, std::function<void(const std::string&)> sink);
    void Add(const char* data, std::size_t size);
    // Seals what is left as the last segment.
    void Finish();

private:
    void SealSegment(bool last);

    std::string m_key;
    std::string m_name;
    std::function<void(const std::string&)> m_sink;
    std::string m_pending;
    std::uint64_t m_segment = 0;
};

// `content` sealed whole (for small files created at once).
std::string SealWhole(const std::string& masterKey, const std::string& name, const std::string& content);

// A writer that seals into `inner`.
std::unique_ptr<StoredFileWriter> SealingWriter(std::unique_ptr<StoredFileWriter> inner, const std::string& masterKey,
                                                const std::string& name);
// A reader that returns each segment's bytes only once it authenticated; throws ToolError naming
// `where` (the file as the user sees it) otherwise.
std::unique_ptr<StoredFileReader> OpeningReader(std::unique_ptr<StoredFileReader> inner, const std::string& masterKey,
                                                const std::string& name, const std::string& where);

}  // namespace cosmosbackup
