// What an interrupted backup or restore leaves behind to go on from: backup checkpoints (per
// range), restore progress records, and the names of per-range data files. A resume trusts
// these files, so they must round-trip exactly and refuse what is not theirs.
#include "TempDir.h"
#include "pipeline/FullBackup.h"
#include "format/BackupCheckpoint.h"
#include "format/BackupClaim.h"
#include "format/LocationLayout.h"
#include "format/DurableFile.h"
#include "format/RestoreProgress.h"
#include "storage/OpenBackupStore.h"
#include "support/RerunCommand.h"
#include "support/ToolError.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace cosmosbackup;
namespace fs = std::filesystem;

namespace {

BackupCheckpoint SampleCheckpoint() {
    BackupCheckpoint c;
    c.endpoint = "https://a.example/";
    c.database = "shop";
    c.container = "orders";
    c.createdAt = "2026-12-08T00:00:00Z";
    c.pageSize = 100;
    c.itemsPerFile = 500;
    c.parallelism = 2;
    c.kind = BackupCheckpoint::kIncremental;
    c.parentPath = "../full";
    c.parentManifestSha256 = std::string(64, 'a');
    c.positions = {{"at", "2026-12-08T00:00:00Z"}, {"ranges", nlohmann::json::array()}};
    c.ranges = {ItemsOfRange({{"id", "0"}, {"minInclusive", ""}, {"maxExclusive", "7F"}}),
                ChangesOfRange({{"id", "1"}, {"minInclusive", "7F"}, {"maxExclusive", "FF"}, {"etag", "\"9\""}})};
    return c;
}

}  // namespace

TEST(BackupCheckpoint, RoundTripsAndRefusesAnotherSource) {
    TempDir dir;
    ClaimLocation(*OpenBackupStore(dir.path()), SampleCheckpoint());
    EXPECT_THROW(ClaimLocation(*OpenBackupStore(dir.path()), SampleCheckpoint()), ToolError) << "the first record claims the location";
    const auto read = ReadBackupCheckpoint(*OpenBackupStore(dir.path()));
    EXPECT_EQ(read.ranges, SampleCheckpoint().ranges);
    EXPECT_EQ(read.createdAt, "2026-12-08T00:00:00Z");
    // What the backup is, so that a resume given fewer options is still the same backup.
    EXPECT_TRUE(read.IsIncrement());
    EXPECT_EQ(read.parentPath, "../full");
    EXPECT_EQ(read.parentManifestSha256, SampleCheckpoint().parentManifestSha256);
    EXPECT_EQ(read.positions, SampleCheckpoint().positions);
    EXPECT_EQ(read.parallelism, 2);
    EXPECT_NO_THROW(CheckSameSource(read, "https://a.example/", "shop", "orders"));
    EXPECT_THROW(CheckSameSource(read, "https://a.example/", "shop", "invoices"), ToolError);
    EXPECT_THROW(CheckSameSource(read, "https://b.example/", "shop", "orders"), ToolError);
    EXPECT_FALSE(fs::exists(dir.path() + "/checkpoint.json.tmp"));
}

TEST(BackupCheckpoint, ARangeKeepsItsSealedFilesAndContinuation) {
    TempDir dir;
    EXPECT_TRUE(ReadRangeCheckpoint(*OpenBackupStore(dir.path()), 3).files.empty()) << "a range that sealed nothing starts afresh";
    RangeCheckpoint c;
    c.range = 3;
    c.continuation = R"({"ranges":[{"id":"5","minInclusive":"","maxExclusive":"3F","token":"+RID:~abc"}]})";
    c.files = {DataFile{RangeDataFileName(3, 0), 50, 1234, "0badf00d"}, DataFile{RangeDataFileName(3, 1), 50, 1200, "deadbeef"}};
    WriteRangeCheckpoint(*OpenBackupStore(dir.path()), c);
    const auto read = ReadRangeCheckpoint(*OpenBackupStore(dir.path()), 3);
    EXPECT_EQ(read.continuation, c.continuation);
    EXPECT_FALSE(read.done);
    ASSERT_EQ(read.files.size(), 2u);
    EXPECT_EQ(read.files[1].name, "items-r0003-00001.jsonl.gz");
    EXPECT_EQ(read.files[1].crc32, "deadbeef");

    // A checkpoint that names another range's file (or any other file) is not trusted.
    c.files.push_back(DataFile{RangeDataFileName(4, 0), 1, 1, "00000000"});
    WriteRangeCheckpoint(*OpenBackupStore(dir.path()), c);
    EXPECT_THROW(ReadRangeCheckpoint(*OpenBackupStore(dir.path()), 3), ToolError);
}

TEST(LocationLayout, PerRangeNamesAreTheToolsOwnAndStrict) {
    EXPECT_TRUE(IsDataFileName(RangeDataFileName(12, 345)));
    EXPECT_TRUE(IsRangeDataFileOf("items-r0012-00345.jsonl.gz", 12));
    EXPECT_FALSE(IsRangeDataFileOf("items-r0012-00345.jsonl.gz", 1));
    for (const std::string name : {"items-r12-00345.jsonl.gz", "items-r0012-00345.jsonl.gz.tmp", "../items-r0012-00345.jsonl.gz",
                                   "items-r0012-.jsonl.gz"}) {
        EXPECT_FALSE(IsRangeDataFileOf(name, 12)) << name;
        EXPECT_FALSE(IsDataFileName(name)) << name;
    }
}

// Every name the layout gives is parsed back to what it was made from, and nothing else is.
TEST(LocationLayout, NamesAreParsedBackToWhatTheyName) {
    const auto parts = ParseDataFileName(ShardFileName(7, RangeDataFileName(3, 42)));
    ASSERT_TRUE(parts.has_value());
    EXPECT_EQ(parts->shard, 7);
    EXPECT_EQ(parts->range, 3);
    EXPECT_EQ(parts->sequence, 42);
    const auto single = ParseDataFileName(DataFileName(9));
    ASSERT_TRUE(single.has_value());
    EXPECT_FALSE(single->shard.has_value());
    EXPECT_FALSE(single->range.has_value());
    EXPECT_EQ(single->sequence, 9);

    EXPECT_EQ(ShardCheckpointOf(ShardFileName(12, kCheckpointName)), 12);
    EXPECT_FALSE(ShardCheckpointOf(ShardFileName(12, RangeCheckpointName(1))).has_value()) << "a range's checkpoint is no first record";
    EXPECT_EQ(ShardRecordOf(ShardFileName(5, kManifestName)), 5);
    EXPECT_FALSE(ShardRecordOf(kShardRunName).has_value());
    for (const std::string name : {std::string(kCheckpointName), RangeCheckpointName(2), std::string(kKeysFileName),
                                   std::string(kLiveKeysFileName), RangeDataFileName(1, 1) + ".partial"}) {
        EXPECT_EQ(ShardOwnName(3, ShardFileName(3, name)), name);
        EXPECT_FALSE(ShardOwnName(4, ShardFileName(3, name)).has_value()) << "another shard's " << name;
        EXPECT_TRUE(IsShardFile(ShardFileName(3, name))) << name;
    }
    EXPECT_FALSE(IsShardFile(kManifestName));
    EXPECT_EQ(ShardLockName(3, "backup.lock"), "backup-s0003.lock");
    EXPECT_TRUE(IsCheckpointName(kLatestFilesName));
    EXPECT_FALSE(IsCheckpointName(kManifestName));
}

TEST(RestoreProgress, RoundTripsPerTargetAndRefusesDamage) {
    TempDir dir;
    EXPECT_FALSE(ReadRestoreProgress(*OpenBackupStore(dir.path()), "db/c").has_value());
    RestoreProgress p;
    p.target = "db/c";
    p.backupCreatedAt = "2026-12-08T00:00:00Z";
    p.filesDone = 4;
    p.itemsInFile = 120;
    p.itemsDone = 2120;
    p.sessionToken = "0:-1#12,3:-1#40";
    p.endpoint = "https://a.example/";
    p.autoscaleMax = 4000;
    WriteRestoreProgress(*OpenBackupStore(dir.path()), p);
    const auto read = ReadRestoreProgress(*OpenBackupStore(dir.path()), "db/c");
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->filesDone, 4u);
    EXPECT_EQ(read->itemsInFile, 120);
    EXPECT_EQ(read->itemsDone, 2120);
    EXPECT_EQ(read->sessionToken, p.sessionToken);
    EXPECT_FALSE(read->finished);
    EXPECT_EQ(read->endpoint, p.endpoint) << "a resume against another account must be told apart";
    EXPECT_EQ(read->autoscaleMax, 4000);
    EXPECT_FALSE(ReadRestoreProgress(*OpenBackupStore(dir.path()), "db/other").has_value()) << "each target has its own record";

    for (const auto& entry : fs::directory_iterator(dir.path())) WriteFileDurably(entry.path().string(), "{\"target\":");
    EXPECT_THROW(ReadRestoreProgress(*OpenBackupStore(dir.path()), "db/c"), ToolError);
}

// A resumed backup is what its first record says, whatever is given again: an increment stays
// one without --since, contradicting options are refused, and the refusal names the one line
// that continues.
TEST(ResumeRule, TheRecordDecidesWhatAResumeIs) {
    TempDir dir;
    auto store = OpenBackupStore(dir.path());
    ClaimLocation(*store, SampleCheckpoint());
    BackupOptions given;
    given.directory = dir.path();
    given.resume = true;
    given.rerun = RerunCommand({"/opt/cosmos backup", "--endpoint", "https://a.example/"}, {});
    const BackupStart start = StartBackup(*store, given, "https://a.example/");
    EXPECT_TRUE(start.IsIncrement()) << "a resume without --since must not turn an increment into a full backup";
    EXPECT_EQ(start.options.container, "orders");
    EXPECT_EQ(start.options.pageSize, 100);

    given.container = "invoices";
    EXPECT_THROW(StartBackup(*store, given, "https://a.example/"), ToolError);
    given.container.clear();
    EXPECT_THROW(StartBackup(*store, given, "https://b.example/"), ToolError) << "another account";
    given.resume = false;
    try {
        StartBackup(*store, given, "https://a.example/");
        FAIL() << "a new backup into an interrupted one was accepted";
    } catch (const ToolError& e) {
        const std::string hint = "to continue it, run: '/opt/cosmos backup' --endpoint https://a.example/ backup --out " + dir.path() + " --resume";
        EXPECT_NE(std::string(e.what()).find(hint), std::string::npos) << e.what();
    }
}

// Nothing recorded yet (an empty directory, a first record cut off by the kill): --resume starts anew.
TEST(ResumeRule, AnUnfinishedStartIsTakenAsEmpty) {
    TempDir dir;
    WriteFileDurably(dir.path() + "/checkpoint.json.partial", "{\"checkp");
    auto store = OpenBackupStore(dir.path());
    BackupOptions given;
    given.directory = dir.path();
    given.resume = true;
    given.database = "shop";
    given.container = "orders";
    const BackupStart start = StartBackup(*store, given, "https://a.example/");
    EXPECT_FALSE(start.recorded.has_value());
    EXPECT_FALSE(start.options.resume);
    EXPECT_EQ(start.options.pageSize, kDefaultPageSize);
    PrepareNewLocation(*store);
    EXPECT_TRUE(store->List().empty());
}
