#pragma once

#include "format/LocationLayout.h"
#include "format/GzipStream.h"
#include "storage/BackupStore.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace cosmosbackup {

// A gzip-compressed JSON Lines file being written into a backup location: one item per line.
class GzipLineWriter {
public:
    GzipLineWriter(BackupStore& store, const std::string& name);
    // A file in a local directory.
    explicit GzipLineWriter(const std::string& path);

    void WriteLine(std::string_view line);
    // Lines that are already whole, each ended by a line feed.
    void WriteLines(std::string_view lines);
    // Ends the file and commits it; throws ToolError when the data did not reach the store.
    StoredBytes Close();

private:
    std::unique_ptr<GzipOutput> m_out;
};

// A gzip-compressed JSON Lines file of a backup being read, line by line. The file must be a
// plain file of its location (in a directory: a regular file, never through a symbolic link),
// start with the gzip magic, and hold no line longer than `maxLineBytes`.
class GzipLineReader {
public:
    GzipLineReader(const BackupStore& store, const std::string& name, std::size_t maxLineBytes = kMaxLineBytes);
    // A file in a local directory.
    explicit GzipLineReader(const std::string& path, std::size_t maxLineBytes = kMaxLineBytes);

    // False at the end of the file; throws ToolError on a damaged file.
    bool ReadLine(std::string& line);
    // Size and CRC-32 of the stored bytes read so far: after the end, of the whole file.
    StoredBytes Consumed() const { return m_in->Consumed(); }

private:
    bool Fill();

    std::string m_where;
    std::size_t m_maxLineBytes;
    std::unique_ptr<GzipInput> m_in;
    std::string m_buffer;
    std::size_t m_pos = 0;
    bool m_eof = false;
};

// CRC-32 of a stored file's bytes (in a directory: a regular file, never through a symbolic
// link), as eight lower-case hex digits.
std::string FileCrc32(const BackupStore& store, const std::string& name);
std::string FileCrc32(const std::string& path);

}  // namespace cosmosbackup
