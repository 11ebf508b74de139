#pragma once

#include "storage/BackupStore.h"

#include <algorithm>
#include <random>
#include <string>

// Whole files in and out of a store, for the storage tests.

// `size` bytes that depend on `seed` only.
inline std::string PseudorandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& c : bytes) c = static_cast<char>(random());
    return bytes;
}

inline void WriteFile(cosmosbackup::BackupStore& store, const std::string& name, const std::string& content) {
    auto writer = store.OpenWrite(name);
    // Uneven pieces, so that blocks and segments fill across writes.
    for (std::size_t at = 0; at < content.size(); at += 7777) writer->Write(content.data() + at, std::min<std::size_t>(7777, content.size() - at));
    writer->Commit();
}

inline std::string ReadFile(const cosmosbackup::BackupStore& store, const std::string& name) {
    auto reader = store.OpenRead(name);
    std::string content;
    char buffer[10000];
    while (const auto n = reader->Read(buffer, sizeof buffer)) content.append(buffer, n);
    return content;
}
