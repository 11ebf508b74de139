#pragma once

#include "InputFile.h"

#include <zlib.h>

#include <cstdint>
#include <string>

namespace cosmosbackup {

// A gzip-compressed JSON Lines file being written: one item per line.
class GzipLineWriter {
public:
    explicit GzipLineWriter(const std::string& path);
    ~GzipLineWriter();
    GzipLineWriter(const GzipLineWriter&) = delete;
    GzipLineWriter& operator=(const GzipLineWriter&) = delete;

    void WriteLine(const std::string& line);
    // Flushes and closes; throws ToolError when the data did not reach the file.
    void Close();

private:
    std::string m_path;
    gzFile m_file;
};

// A gzip-compressed JSON Lines file of a backup being read, line by line. The file must be a
// regular file (a symbolic link is refused), start with the gzip magic, and hold no line
// longer than `maxLineBytes`.
class GzipLineReader {
public:
    explicit GzipLineReader(const std::string& path, std::size_t maxLineBytes = kMaxLineBytes);
    ~GzipLineReader();
    GzipLineReader(const GzipLineReader&) = delete;
    GzipLineReader& operator=(const GzipLineReader&) = delete;

    // False at the end of the file; throws ToolError on a damaged file.
    bool ReadLine(std::string& line);

private:
    bool Fill();

    std::string m_path;
    std::size_t m_maxLineBytes;
    gzFile m_file;
    std::string m_buffer;
    std::size_t m_pos = 0;
    bool m_eof = false;
};

// CRC-32 of a regular file's bytes (never through a symbolic link), as eight lower-case hex digits.
std::string FileCrc32(const std::string& path);

}  // namespace cosmosbackup
