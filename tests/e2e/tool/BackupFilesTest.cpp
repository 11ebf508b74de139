// The backup tool's own file handling, without a server: data files, manifests, checksums,
// item identity and key files. These are what make a damaged or partial backup detectable.
#include "BackupDirectory.h"
#include "BackupFiles.h"
#include "Credentials.h"
#include "GzipFile.h"
#include "ItemKey.h"
#include "Manifest.h"
#include "ToolError.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace cosmosbackup;
namespace fs = std::filesystem;

namespace {

class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/cosmos-backup-test-XXXXXX";
        m_path = mkdtemp(name);
    }
    ~TempDir() { fs::remove_all(m_path); }
    std::string operator/(const std::string& name) const { return (fs::path(m_path) / name).string(); }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// Writes `lines` into a data file and returns its manifest entry.
DataFile WriteData(const TempDir& dir, const std::string& name, const std::vector<std::string>& lines) {
    GzipLineWriter writer(dir / name);
    for (const auto& line : lines) writer.WriteLine(line);
    writer.Close();
    return DataFile{name, static_cast<std::int64_t>(lines.size()), static_cast<std::int64_t>(fs::file_size(dir / name)),
                    FileCrc32(dir / name)};
}

std::vector<std::string> ReadAll(const std::string& path) {
    GzipLineReader reader(path);
    std::vector<std::string> lines;
    std::string line;
    while (reader.ReadLine(line)) lines.push_back(line);
    return lines;
}

}  // namespace

TEST(GzipLines, LinesLongerThanTheReadBufferComeBackWhole) {
    TempDir dir;
    const std::vector<std::string> lines = {"{\"a\":1}", std::string(1'100'000, 'x'), "", "{\"ü\":\"日本\"}"};
    WriteData(dir, "d.jsonl.gz", lines);
    EXPECT_EQ(lines, ReadAll(dir / "d.jsonl.gz"));
}

TEST(GzipLines, ATruncatedFileIsAnErrorNotAShortFile) {
    TempDir dir;
    std::vector<std::string> lines(2000, std::string(200, 'q'));
    for (std::size_t i = 0; i < lines.size(); ++i) lines[i] += std::to_string(i);  // defeat compression a little
    WriteData(dir, "d.jsonl.gz", lines);
    fs::resize_file(dir / "d.jsonl.gz", fs::file_size(dir / "d.jsonl.gz") / 2);
    EXPECT_THROW(ReadAll(dir / "d.jsonl.gz"), ToolError);
}

TEST(Manifest, RoundTripsEveryField) {
    TempDir dir;
    Manifest m;
    m.createdAt = "2026-12-07T10:00:00Z";
    m.sourceEndpoint = "https://a.example/";
    m.sourceDatabase = "db";
    m.sourceContainer = "c";
    m.partitionKey = {{"paths", {"/k"}}, {"kind", "Hash"}};
    m.indexingPolicy = {{"indexingMode", "consistent"}};
    m.throughput = 400;
    m.autoscaleMaxThroughput = 0;
    m.defaultTtl = -1;
    m.scripts = {{"triggers", nlohmann::json::array()}};
    m.scriptCount = 0;
    m.itemCount = 3;
    m.files = {DataFile{"items-00000.jsonl.gz", 3, 99, "0badf00d"}};
    WriteManifest(dir.path(), m);
    const Manifest back = ReadManifest(dir.path());
    EXPECT_EQ(nlohmann::json(m), nlohmann::json(back));
    struct stat info {};
    ASSERT_EQ(0, stat((dir / kManifestName).c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 0777u);
}

TEST(Manifest, AMissingOrForeignManifestIsRefused) {
    TempDir dir;
    EXPECT_THROW(ReadManifest(dir.path()), ToolError);
    Manifest m;
    m.formatVersion = 2;
    WriteManifest(dir.path(), m);
    try {
        ReadManifest(dir.path());
        FAIL() << "format version 2 was accepted";
    } catch (const ToolError& e) {
        EXPECT_NE(std::string(e.what()).find("format version 2"), std::string::npos);
    }
}

TEST(DataFiles, ChecksSizeChecksumAndCounts) {
    TempDir dir;
    Manifest m;
    m.files.push_back(WriteData(dir, "a.gz", {"{\"id\":\"1\"}", "{\"id\":\"2\"}"}));
    m.itemCount = 2;
    EXPECT_NO_THROW(CheckDataFiles(dir.path(), m));
    std::vector<std::string> seen;
    EXPECT_EQ(2, ForEachItem(dir.path(), m, [&](const std::string& s) { seen.push_back(s); }));
    EXPECT_EQ((std::vector<std::string>{"{\"id\":\"1\"}", "{\"id\":\"2\"}"}), seen);

    Manifest wrongTotal = m;
    wrongTotal.itemCount = 3;
    EXPECT_THROW(CheckDataFiles(dir.path(), wrongTotal), ToolError);
    Manifest wrongFileCount = m;
    wrongFileCount.files[0].items = 1;
    wrongFileCount.itemCount = 1;
    EXPECT_THROW(ForEachItem(dir.path(), wrongFileCount, [](const std::string&) {}), ToolError);

    {
        std::fstream f(dir / "a.gz", std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(12);
        f.put('\x7f');
    }
    EXPECT_THROW(CheckDataFiles(dir.path(), m), ToolError);
    fs::remove(dir / "a.gz");
    EXPECT_THROW(CheckDataFiles(dir.path(), m), ToolError);
}

TEST(ItemKey, UsesIdAndEveryPartitionKeyPath) {
    const ItemKeyMaker keys(nlohmann::json{{"paths", {"/tenant", "/address/city"}}});
    const auto a = nlohmann::json::parse(R"({"id":"1","tenant":"t","address":{"city":"Zürich"},"x":1})");
    const auto sameKeyOtherContent = nlohmann::json::parse(R"({"x":2,"address":{"city":"Zürich"},"tenant":"t","id":"1"})");
    const auto otherCity = nlohmann::json::parse(R"({"id":"1","tenant":"t","address":{"city":"Bern"}})");
    const auto noCity = nlohmann::json::parse(R"({"id":"1","tenant":"t"})");
    EXPECT_EQ(keys.KeyOf(a), keys.KeyOf(sameKeyOtherContent));
    EXPECT_NE(keys.KeyOf(a), keys.KeyOf(otherCity));
    EXPECT_NE(keys.KeyOf(a), keys.KeyOf(noCity));
}

TEST(BackupDirectory, IsOwnerOnlyAndNeverReused) {
    TempDir dir;
    const auto target = dir / "nested/backup";
    CreateBackupDirectory(target);
    struct stat info {};
    ASSERT_EQ(0, stat(target.c_str(), &info));
    EXPECT_EQ(0700u, info.st_mode & 0777u);
    std::ofstream(target + "/file") << "x";
    EXPECT_THROW(CreateBackupDirectory(target), ToolError);
}

TEST(Credentials, KeyFileMustBeOwnerOnlyAndKeyIsNeverInAnError) {
    TempDir dir;
    const std::string secret = "c2VjcmV0LWtleS1ieXRlcw==";
    const auto file = dir / "key";
    std::ofstream(file) << "  " << secret << "\n";
    chmod(file.c_str(), 0644);
    try {
        ReadAccountKey(KeySource{"UNUSED", file});
        FAIL() << "a group-readable key file was accepted";
    } catch (const ToolError& e) {
        EXPECT_EQ(std::string(e.what()).find(secret), std::string::npos);
    }
    chmod(file.c_str(), 0600);
    EXPECT_EQ(secret, ReadAccountKey(KeySource{"UNUSED", file}));

    setenv("COSMOS_BACKUP_TEST_KEY", secret.c_str(), 1);
    EXPECT_EQ(secret, ReadAccountKey(KeySource{"COSMOS_BACKUP_TEST_KEY", ""}));
    unsetenv("COSMOS_BACKUP_TEST_KEY");
    EXPECT_THROW(ReadAccountKey(KeySource{"COSMOS_BACKUP_TEST_KEY", ""}), ToolError);
}
