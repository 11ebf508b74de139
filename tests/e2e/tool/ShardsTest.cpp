// Shards of a backup: slices of the effective-key space that hold every key exactly once,
// whatever the ranges are; and shares of a restore's data files.
#include "TempDir.h"
#include "format/FileShares.h"
#include "format/ShardRun.h"
#include "format/ShardView.h"
#include "service/EffectiveKeyCuts.h"
#include "service/KeySlices.h"
#include "storage/OpenBackupStore.h"
#include "support/ToolError.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

using namespace cosmosbackup;

namespace {

const nlohmann::json kSliceHashV2 = {{"paths", {"/tenant"}}, {"kind", "Hash"}, {"version", 2}};
const nlohmann::json kSliceHashV1 = {{"paths", {"/tenant"}}, {"kind", "Hash"}};
const nlohmann::json kSliceMultiHash = {{"paths", {"/a", "/b"}}, {"kind", "MultiHash"}, {"version", 2}};
const nlohmann::json kSliceUnknown = {{"paths", {"/a"}}, {"kind", "Range"}};

std::string RandomHexKey(std::mt19937_64& random, std::size_t digits, int firstBelow) {
    static const char* hex = "0123456789ABCDEF";
    std::string key;
    for (std::size_t i = 0; i < digits; ++i) key += hex[random() % (i == 0 ? firstBelow : 16)];
    return key;
}

// Keys of every kind, the ends of the key space and the cuts themselves among them.
std::vector<std::string> SliceTestKeys(const nlohmann::json& pk, int count) {
    std::mt19937_64 random(5);
    std::vector<std::string> keys = {"", "00", "0000000000000000000000000000000", "3FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", "40", "7F", "FE", "FEFF"};
    for (int i = 0; i < 4000; ++i) keys.push_back(RandomHexKey(random, 32, 4));
    for (int i = 0; i < 500; ++i) keys.push_back(RandomHexKey(random, 64, 4));  // hierarchical keys
    for (int i = 0; i < 500; ++i) keys.push_back(EncodeNumberKey(static_cast<double>(random() % 4294967296ULL)) + "04");
    for (int i = 0; i < count; ++i) {
        const auto slice = SliceOfKeySpace(pk, i, count);
        keys.push_back(slice.min);
        keys.push_back(slice.max);
    }
    return keys;
}

bool InInterval(const std::string& key, const std::string& min, const std::string& max) { return key >= min && key < max; }

}  // namespace

TEST(KeySlices, EveryKeyInExactlyOneSliceOfEveryKind) {
    for (const auto& pk : {kSliceHashV2, kSliceHashV1, kSliceMultiHash, kSliceUnknown}) {
        for (int count : {1, 2, 3, 4, 7, 16}) {
            std::vector<KeySlice> slices;
            for (int i = 0; i < count; ++i) slices.push_back(SliceOfKeySpace(pk, i, count));
            // Contiguous, from the start of the key space to its end.
            EXPECT_EQ("", slices.front().min);
            EXPECT_EQ("FF", slices.back().max);
            for (int i = 1; i < count; ++i) EXPECT_EQ(slices[i - 1].max, slices[i].min) << pk.dump() << " " << count;
            for (const auto& key : SliceTestKeys(pk, count)) {
                if (key >= "FF") continue;  // "FF" closes the key space: no item has it
                int holders = 0;
                for (const auto& s : slices) holders += InInterval(key, s.min, s.max) ? 1 : 0;
                EXPECT_EQ(1, holders) << "key " << key << " of " << pk.dump() << " in " << count << " slices";
            }
        }
    }
    EXPECT_THROW(SliceOfKeySpace(kSliceHashV2, 4, 4), std::exception);
}

TEST(KeySlices, HashV2SlicesHoldEqualSharesAndTheirPartsFollowAnyRanges) {
    std::mt19937_64 random(9);
    std::vector<std::string> keys;
    for (int i = 0; i < 8000; ++i) keys.push_back(RandomHexKey(random, 32, 4));
    // Ranges as a split and a merge may leave them: uneven, not aligned with the slices.
    const std::vector<nlohmann::json> ranges = {{{"id", "3"}, {"minInclusive", ""}, {"maxExclusive", "0A"}},
                                                {{"id", "7"}, {"minInclusive", "0A"}, {"maxExclusive", "15"}},
                                                {{"id", "8"}, {"minInclusive", "15"}, {"maxExclusive", "3E"}},
                                                {{"id", "9"}, {"minInclusive", "3E"}, {"maxExclusive", "FF"}}};
    std::vector<int> perSlice(5, 0);
    for (const auto& key : keys) {
        int holders = 0;
        for (int i = 0; i < 5; ++i) {
            for (const auto& part : PartsInSlice(ranges, SliceOfKeySpace(kSliceHashV2, i, 5))) {
                if (!InInterval(key, part["minInclusive"], part["maxExclusive"])) continue;
                ++holders;
                ++perSlice[i];
                // The part is read in the range that holds the key.
                for (const auto& r : ranges) {
                    if (InInterval(key, r["minInclusive"], r["maxExclusive"])) {
                        EXPECT_EQ(r["id"], part["id"]);
                    }
                }
            }
        }
        EXPECT_EQ(1, holders) << key;
    }
    for (int n : perSlice) EXPECT_NEAR(n, 8000 / 5, 8000 / 20);

    // A change feed part keeps its position when narrowed to a slice.
    const auto slice = SliceOfKeySpace(kSliceHashV2, 1, 5);
    const auto narrowed = NarrowedToSlice({{{"id", "8"}, {"minInclusive", "15"}, {"maxExclusive", "3E"}, {"since", "\"42\""}}}, slice);
    ASSERT_EQ(1u, narrowed.size());
    EXPECT_EQ("\"42\"", narrowed[0]["since"]);
    EXPECT_EQ(std::max<std::string>("15", slice.min), narrowed[0]["minInclusive"]);
    EXPECT_EQ(std::min<std::string>("3E", slice.max), narrowed[0]["maxExclusive"]);
}

TEST(Shards, FileSharesAreDisjointWholeAndBalanced) {
    std::vector<DataFile> files;
    for (int i = 0; i < 23; ++i) {
        DataFile f;
        f.name = "items-r0000-" + std::to_string(10000 + i) + ".jsonl.gz";
        f.bytes = 1000 + 137 * (i % 5);
        files.push_back(f);
    }
    std::map<std::string, int> taken;
    std::vector<std::int64_t> bytes;
    for (int s = 0; s < 4; ++s) {
        std::int64_t total = 0;
        for (const auto& f : ShareOfFiles(files, s, 4)) {
            ++taken[f.name];
            total += f.bytes;
        }
        bytes.push_back(total);
    }
    EXPECT_EQ(files.size(), taken.size());
    for (const auto& [name, times] : taken) EXPECT_EQ(1, times) << name;
    EXPECT_LE(*std::max_element(bytes.begin(), bytes.end()) - *std::min_element(bytes.begin(), bytes.end()), 1548);
}

TEST(Shards, NamesOfAShardMapBothWaysAndAutoReadsTheScheduler) {
    for (const std::string name : {"manifest.json", "checkpoint.json", "checkpoint-r0003.json", "checkpoint-positions.json",
                                   "items-r0002-00001.jsonl.gz", "keys.jsonl.gz", "live-keys.jsonl.gz"}) {
        const auto stored = ShardView::LocationName(12, name);
        EXPECT_TRUE(ShardView::IsShardFile(stored)) << stored;
        EXPECT_EQ(name, ShardView::ShardName(12, stored).value_or("?"));
        EXPECT_FALSE(ShardView::ShardName(1, stored).has_value()) << "shard 1 must not see " << stored;
    }
    EXPECT_FALSE(ShardView::IsShardFile("manifest.json"));
    EXPECT_EQ(3, ShardView::RecordOf(ShardView::LocationName(3, "manifest.json")).value_or(-1));

    EXPECT_EQ("2/5", ParseShard("2/5", 0).Describe());
    EXPECT_THROW(ParseShard("5/5", 0), std::exception);
    setenv("SLURM_ARRAY_TASK_ID", "3", 1);
    setenv("SLURM_ARRAY_TASK_COUNT", "4", 1);
    EXPECT_EQ("3/4", ParseShard("auto", 0).Describe());
    unsetenv("SLURM_ARRAY_TASK_ID");
    setenv("JOB_COMPLETION_INDEX", "1", 1);
    EXPECT_THROW(ParseShard("auto", 0), std::exception);  // Kubernetes gives no count
    EXPECT_EQ("1/6", ParseShard("auto", 6).Describe());
    unsetenv("JOB_COMPLETION_INDEX");
    EXPECT_THROW(ParseShard("auto", 6), std::exception);
}

// One run per location: the first shard records it, a shard of the same run adopts its start,
// one of another count or source is refused; and what a killed writer left is the shard's own.
TEST(ShardRunTest, FirstShardRecordsTheRunOthersAdoptOrAreRefused) {
    TempDir dir;
    auto location = std::shared_ptr<BackupStore>(OpenBackupStore(dir.path()));
    ShardView(location, 0).CreateNew();
    const ShardRun mine{"https://a", "db", "c", 4, 1000, 100000, "", "", ""};
    const auto first = JoinShardRun(*location, mine);
    const auto second = JoinShardRun(*location, mine);
    EXPECT_EQ(first.startedAt, second.startedAt);
    EXPECT_EQ(first.startedAt, ReadShardRun(*location).startedAt);
    auto otherCount = mine;
    otherCount.count = 3;
    EXPECT_THROW(JoinShardRun(*location, otherCount), ToolError);
    auto otherSource = mine;
    otherSource.container = "d";
    EXPECT_THROW(JoinShardRun(*location, otherSource), ToolError);
    auto increment = mine;  // an increment's shards, of a full backup's run
    increment.parent = "0a1b";
    EXPECT_THROW(JoinShardRun(*location, increment), ToolError);
    EXPECT_TRUE(ShardView::IsShardFile(kShardRunName));
    EXPECT_EQ("checkpoint-s0002.json.partial", ShardView::LocationName(2, "checkpoint.json.partial"));
    EXPECT_EQ("checkpoint.json.claim-Ab12Cd", ShardView::ShardName(2, "checkpoint-s0002.json.claim-Ab12Cd").value_or("?"));
    EXPECT_FALSE(ShardView::ShardName(1, "checkpoint-s0002.json.partial").has_value());
}

TEST(Shards, AShardsLockIsItsOwnAndHiddenFromItsView) {
    TempDir temp;
    std::shared_ptr<BackupStore> location = OpenBackupStore(temp.path());
    ShardView one(location, 1), again(location, 1), two(location, 2);
    std::string holder;
    auto whole = location->TryLock(kLockFileName, "finish", holder);
    auto first = one.TryLock(kLockFileName, "shard 1", holder);
    ASSERT_TRUE(whole && first);
    EXPECT_EQ(nullptr, again.TryLock(kLockFileName, "shard 1 again", holder));
    EXPECT_EQ("shard 1", holder);
    EXPECT_TRUE(two.TryLock(kLockFileName, "shard 2", holder));
    EXPECT_TRUE(std::filesystem::is_regular_file(temp / "backup-s0001.lock"));
    EXPECT_TRUE(one.List().empty() && location->List().empty());
}
