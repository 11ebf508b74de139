#pragma once

#include "storage/BackupStore.h"

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <string>

namespace cosmosbackup {

// Size and CRC-32 (eight lower-case hex digits) of a file's stored, compressed bytes.
struct StoredBytes {
    std::int64_t bytes = 0;
    std::string crc32;
};

// CRC-32 state as eight lower-case hex digits.
std::string Crc32Hex(uLong crc);

// Compresses into a stored file as one gzip member, counting what it stores.
class GzipOutput {
public:
    GzipOutput(std::unique_ptr<StoredFileWriter> file, std::string name);
    ~GzipOutput();
    GzipOutput(const GzipOutput&) = delete;
    GzipOutput& operator=(const GzipOutput&) = delete;

    void Write(const char* data, std::size_t size);
    // Ends the gzip stream and commits the file.
    StoredBytes Finish();

private:
    void Deflate(int flush);

    std::unique_ptr<StoredFileWriter> m_file;
    std::string m_name;
    z_stream m_zlib{};
    std::string m_out;
    uLong m_crc;
    std::int64_t m_bytes = 0;
};

// Decompresses one gzip member from a stored file. Throws ToolError when the file does not
// start with the gzip magic, is damaged, ends early or carries anything after the member.
class GzipInput {
public:
    GzipInput(std::unique_ptr<StoredFileReader> file, std::string name);
    ~GzipInput();
    GzipInput(const GzipInput&) = delete;
    GzipInput& operator=(const GzipInput&) = delete;

    // Up to `capacity` decompressed bytes; 0 at the end only.
    std::size_t Read(char* buffer, std::size_t capacity);

private:
    bool FillInput();

    std::unique_ptr<StoredFileReader> m_file;
    std::string m_name;
    z_stream m_zlib{};
    std::string m_in;
    bool m_started = false;
    bool m_ended = false;
};

}  // namespace cosmosbackup
