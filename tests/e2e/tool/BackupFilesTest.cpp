// The backup tool's own file handling, without a server: data files, manifests, checksums,
// item identity and key files. These are what make a damaged or partial backup detectable.
#include "TempDir.h"
#include "chain/ItemKey.h"
#include "format/DataFiles.h"
#include "format/GzipFile.h"
#include "format/Manifest.h"
#include "service/ContainerDefinition.h"
#include "storage/LocalFile.h"
#include "storage/OpenBackupStore.h"
#include "support/Secrets.h"
#include "support/SerialWorker.h"
#include "support/ToolError.h"
#include "support/ToolVersion.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace cosmosbackup;
namespace fs = std::filesystem;

namespace {

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
    m.container = {{"id", "c"}, {"uniqueKeyPolicy", {{"uniqueKeys", {{{"paths", {"/u"}}}}}}}};
    m.throughput.scope = ThroughputLayout::kShared;
    m.throughput.manual = 400;
    m.defaultTtl = -1;
    m.scripts = {{"triggers", nlohmann::json::array()}};
    m.scriptCount = 0;
    m.itemCount = 3;
    m.files = {DataFile{"items-00000.jsonl.gz", 3, 99, "0badf00d"}};
    m.toolVersion = ToolVersion();  // WriteManifest records the version that writes it
    m.requestCharge = 812.5;
    m.seconds = 12.25;
    WriteManifest(*OpenBackupStore(dir.path()), m);
    const Manifest back = ReadManifest(*OpenBackupStore(dir.path()));
    EXPECT_EQ(nlohmann::json(m), nlohmann::json(back));
    struct stat info {};
    ASSERT_EQ(0, stat((dir / kManifestName).c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 0777u);
}

TEST(Manifest, AMissingOrForeignManifestIsRefused) {
    TempDir dir;
    EXPECT_THROW(ReadManifest(*OpenBackupStore(dir.path())), ToolError);
    Manifest m;
    m.formatVersion = 3;
    WriteManifest(*OpenBackupStore(dir.path()), m);
    try {
        ReadManifest(*OpenBackupStore(dir.path()));
        FAIL() << "format version 3 was accepted";
    } catch (const ToolError& e) {
        EXPECT_NE(std::string(e.what()).find("format version 3"), std::string::npos);
    }
}

TEST(Manifest, AVersionOneBackupReadsAsTheContainersOwnThroughput) {
    TempDir dir;
    std::ofstream(dir / kManifestName) << R"({"formatVersion":1,"createdAt":"t","source":{"endpoint":"e","database":"d","container":"c"},
        "partitionKey":{"paths":["/k"]},"indexingPolicy":{},"throughput":{"manual":0,"autoscaleMax":4000},"defaultTtl":0,
        "scripts":{},"scriptCount":0,"itemCount":0,"files":[]})";
    const Manifest m = ReadManifest(*OpenBackupStore(dir.path()));
    EXPECT_EQ(ThroughputLayout::kOwn, m.throughput.scope);
    EXPECT_EQ(4000, m.throughput.autoscaleMax);
    EXPECT_TRUE(m.container.is_null());
}

TEST(DataFiles, ChecksSizeChecksumAndCounts) {
    TempDir dir;
    Manifest m;
    m.files.push_back(WriteData(dir, DataFileName(0), {"{\"id\":\"1\"}", "{\"id\":\"2\"}"}));
    m.itemCount = 2;
    EXPECT_NO_THROW(CheckDataFiles(*OpenBackupStore(dir.path()), m));
    std::vector<std::string> seen;
    EXPECT_EQ(2, ForEachItem(*OpenBackupStore(dir.path()), m, [&](const std::string& s) { seen.push_back(s); }));
    EXPECT_EQ((std::vector<std::string>{"{\"id\":\"1\"}", "{\"id\":\"2\"}"}), seen);

    Manifest wrongTotal = m;
    wrongTotal.itemCount = 3;
    EXPECT_THROW(CheckDataFiles(*OpenBackupStore(dir.path()), wrongTotal), ToolError);
    Manifest wrongFileCount = m;
    wrongFileCount.files[0].items = 1;
    wrongFileCount.itemCount = 1;
    EXPECT_THROW(ForEachItem(*OpenBackupStore(dir.path()), wrongFileCount, [](const std::string&) {}), ToolError);

    {
        std::fstream f(dir / DataFileName(0), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(12);
        f.put('\x7f');
    }
    EXPECT_THROW(CheckDataFiles(*OpenBackupStore(dir.path()), m), ToolError);
    fs::remove(dir / DataFileName(0));
    EXPECT_THROW(CheckDataFiles(*OpenBackupStore(dir.path()), m), ToolError);
}

// A backup directory is untrusted: names, links, file kinds, line lengths and sizes.
TEST(UntrustedBackup, ManifestNamesOnlyTheToolsOwnFiles) {
    TempDir dir;
    for (const std::string name : {"../items-00000.jsonl.gz", "/etc/passwd", "items-00000.jsonl.gz/..", "sub/items-00000.jsonl.gz",
                                   "items-0.jsonl.gz", ".."}) {
        Manifest m;
        m.files = {DataFile{name, 0, 0, "00000000"}};
        WriteManifest(*OpenBackupStore(dir.path()), m);
        EXPECT_THROW(ReadManifest(*OpenBackupStore(dir.path())), ToolError) << name;
    }
    Manifest twice;
    twice.files = {DataFile{DataFileName(0), 0, 0, "0"}, DataFile{DataFileName(0), 0, 0, "0"}};
    WriteManifest(*OpenBackupStore(dir.path()), twice);
    EXPECT_THROW(ReadManifest(*OpenBackupStore(dir.path())), ToolError);
}

TEST(UntrustedBackup, LinksNonGzipFilesAndOversizedManifestsAreRefused) {
    TempDir dir, outside;
    Manifest m;
    m.files.push_back(WriteData(outside, DataFileName(0), {"{\"id\":\"secret\"}"}));
    m.itemCount = 1;
    fs::create_symlink(outside / DataFileName(0), dir / DataFileName(0));
    EXPECT_THROW(CheckDataFiles(*OpenBackupStore(dir.path()), m), ToolError);
    EXPECT_THROW(GzipLineReader(dir / DataFileName(0)), ToolError);
    EXPECT_THROW(FileCrc32(dir / DataFileName(0)), ToolError);

    fs::remove(dir / DataFileName(0));
    std::ofstream(dir / DataFileName(0)) << "{\"id\":\"plain\"}\n";
    m.files[0] = DataFile{DataFileName(0), 1, static_cast<std::int64_t>(fs::file_size(dir / DataFileName(0))), FileCrc32(dir / DataFileName(0))};
    EXPECT_THROW(CheckDataFiles(*OpenBackupStore(dir.path()), m), ToolError);

    fs::remove(dir / DataFileName(0));
    fs::create_symlink(outside / "elsewhere.json", dir / kManifestName);
    EXPECT_THROW(ReadManifest(*OpenBackupStore(dir.path())), ToolError);
    fs::remove(dir / kManifestName);
    std::ofstream(dir / kManifestName).close();
    fs::resize_file(dir / kManifestName, kMaxManifestBytes + 1);  // sparse: costs nothing to make
    EXPECT_THROW(ReadManifest(*OpenBackupStore(dir.path())), ToolError);
}

TEST(UntrustedBackup, ContentIsCheckedWholeLinesAreBounded) {
    TempDir dir;
    Manifest m;
    m.files.push_back(WriteData(dir, DataFileName(0), {"{\"id\":\"1\"}", "[1,2]"}));
    m.itemCount = 2;
    EXPECT_NO_THROW(CheckDataFiles(*OpenBackupStore(dir.path()), m));
    EXPECT_THROW(CheckDataFileContents(*OpenBackupStore(dir.path()), m), ToolError);  // a line that is no object

    m.files[0] = WriteData(dir, DataFileName(0), {"{\"id\":\"1\"}", "{\"id\":\"2\"}", "{\"id\":\"3\"}"});
    m.files[0].items = 2;
    EXPECT_THROW(CheckDataFileContents(*OpenBackupStore(dir.path()), m), ToolError);  // more items than the manifest says

    const std::string longest(kMaxLineBytes, 'x');
    WriteData(dir, DataFileName(1), {longest, longest + "y"});
    GzipLineReader reader(dir / DataFileName(1));
    std::string line;
    EXPECT_TRUE(reader.ReadLine(line));
    EXPECT_EQ(kMaxLineBytes, line.size());
    EXPECT_THROW(reader.ReadLine(line), ToolError);
}

TEST(ContainerDefinition, ACreatedContainerMayAddButNotLose) {
    const auto backup = nlohmann::json::parse(R"({"id":"a","partitionKey":{"paths":["/t","/u"],"kind":"MultiHash","version":2},
        "uniqueKeyPolicy":{"uniqueKeys":[{"paths":["/e"]}]},"indexingPolicy":{"excludedPaths":[{"path":"/x/?"}]},"analyticalStorageTtl":-1})");
    auto created = backup;
    created["id"] = "b";
    created["geospatialConfig"] = {{"type", "Geography"}};
    created["indexingPolicy"]["excludedPaths"].push_back({{"path", "/\"_etag\"/?"}});
    EXPECT_TRUE(LostProperties(backup, created).empty());
    created.erase("uniqueKeyPolicy");
    created["analyticalStorageTtl"] = 0;
    created["indexingPolicy"]["excludedPaths"].erase(0);
    EXPECT_EQ(3u, LostProperties(backup, created).size());

    EXPECT_TRUE(SamePartitionKey(nlohmann::json::parse(R"({"paths":["/t"]})"), nlohmann::json::parse(R"({"paths":["/t"],"kind":"Hash","version":1})")));
    EXPECT_FALSE(SamePartitionKey(nlohmann::json::parse(R"({"paths":["/t"]})"), nlohmann::json::parse(R"({"paths":["/other"]})")));
    EXPECT_FALSE(SamePartitionKey(backup["partitionKey"], nlohmann::json::parse(R"({"paths":["/t","/u"],"kind":"Hash","version":2})")));
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

    // Quoted segments name the property without their quotes, as the service reads them.
    const ItemKeyMaker quoted(nlohmann::json{{"paths", {"/\"a b\"/\"c~d\""}}});
    const auto item = nlohmann::json::parse(R"({"id":"1","a b":{"c~d":"v"}})");
    EXPECT_EQ(R"(["1","v"])", quoted.KeyOf(item));
}

// The key from the item's text, scanning for the key values only, is the key of the parsed item.
TEST(ItemKey, FromTheTextIsTheKeyOfTheParsedItem) {
    const std::vector<nlohmann::json> definitions = {
        nlohmann::json::object(),
        {{"paths", {"/tenant"}}},
        {{"paths", {"/address/city", "/tags/1", "/\"a b\"/\"c~d\""}}},
        {{"paths", {"/list/01", "/list/-", "/n/x", "/"}}},
    };
    const std::vector<std::string> items = {
        R"({"id":"1","tenant":"t","address":{"city":"Zürich"},"x":1})",
        R"( { "x" : [ "}" , "{\"" ] , "tenant" : { "b" : [1, 2.50, -0.0] } , "id" : "2" } )",
        R"({"id":"dup","tenant":"first","tenant":"second","id":"last"})",
        R"({"i\u0064":"escaped name","tena\u006et":"\ud83d\ude80 \"q\" \\ \/","\u0074enant2":1})",
        R"({"id":123456789012345678901234567890,"tenant":1e308,"tags":[true,{"z":null},"x"]})",
        R"({"address":{"city":{"_rid":"nested"},"zip":"8000"},"tags":["a"],"a b":{"c~d":"v","c":1}})",
        R"({"list":[1,[2,3],{"a":"]"}],"n":"text","id":"ü"})",
        R"({})",
    };
    for (const auto& definition : definitions) {
        const ItemKeyMaker keys(definition);
        for (const auto& item : items) {
            EXPECT_EQ(keys.KeyOf(nlohmann::json::parse(item)), keys.KeyOfText(item)) << definition.dump() << " " << item;
        }
    }
    const ItemKeyMaker keys(definitions[1]);
    EXPECT_THROW(keys.KeyOfText("[1,2]"), ToolError);
    EXPECT_THROW(keys.KeyOfText("  "), ToolError);
}

// A page is written as one run of lines: the file is the same as line by line.
TEST(GzipLines, APageWrittenWholeIsTheSameFileAsLineByLine) {
    TempDir dir;
    std::vector<std::string> lines;
    std::string page;
    for (int i = 0; i < 3000; ++i) {
        lines.push_back("{\"id\":\"" + std::to_string(i) + "\",\"t\":\"" + std::string(static_cast<std::size_t>(i % 97), 'x') + "日本\"}");
        page += lines.back() + "\n";
    }
    WriteData(dir, "lines.jsonl.gz", lines);
    GzipLineWriter whole(dir / "whole.jsonl.gz");
    whole.WriteLines(page.substr(0, 100000));
    whole.WriteLines(page.substr(100000));
    whole.Close();
    EXPECT_EQ(FileCrc32(dir / "lines.jsonl.gz"), FileCrc32(dir / "whole.jsonl.gz"));
}

// The reader's writer: one job at a time, in order, and a job's failure reaches the caller.
TEST(SerialWorker, RunsJobsOneAtATimeInOrderAndPassesOnAFailure) {
    SerialWorker worker;
    std::vector<int> done;
    for (int i = 0; i < 50; ++i) worker.Submit([&done, i] { done.push_back(i); });
    worker.Wait();
    ASSERT_EQ(done.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(done[static_cast<std::size_t>(i)], i);
    worker.Submit([] { throw ToolError("disk full"); });
    EXPECT_THROW(worker.Submit([&done] { done.push_back(99); }), ToolError);  // not run after the failure
    worker.Wait();
    EXPECT_EQ(done.size(), 50u);
    worker.Submit([&done] { done.push_back(100); });  // the worker goes on after a failure was passed on
    worker.Wait();
    EXPECT_EQ(done.back(), 100);
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
