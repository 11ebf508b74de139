#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

// A directory of its own for one test, removed with everything in it afterwards.
class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/cosmos-backup-test-XXXXXX";
        m_path = mkdtemp(name);
    }
    ~TempDir() { std::filesystem::remove_all(m_path); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string operator/(const std::string& name) const { return (std::filesystem::path(m_path) / name).string(); }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};
