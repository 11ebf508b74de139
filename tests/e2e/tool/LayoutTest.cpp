// The location's layout and the records that keep one writer at a time: restore record names
// and their parsing back, the restore run's target record, the seal's counts, and the writer
// locks (a second writer refused naming the first, a shard's lock apart from the others').
#include "TempDir.h"
#include "chain/ChainRecord.h"
#include "format/LocationLayout.h"
#include "format/RestoreProgress.h"
#include "format/RestoreTarget.h"
#include "format/WriterLock.h"
#include "storage/OpenBackupStore.h"
#include "support/ToolError.h"

#include <gtest/gtest.h>

using namespace cosmosbackup;

TEST(LocationLayout, RestoreRecordNamesParseBackAndDifferByKind) {
    const auto progress = RestoreProgressName("db/c");
    const auto target = RestoreTargetName("db/c");
    EXPECT_EQ(progress.rfind(kRestoreProgressPrefix, 0), 0u);
    EXPECT_EQ(RestoreRecordPrefixOf(progress), std::string(kRestoreProgressPrefix));
    EXPECT_EQ(RestoreRecordPrefixOf(target), std::string(kRestoreTargetPrefix));
    EXPECT_NE(RestoreProgressName("db/c"), RestoreProgressName("db/d"));
    for (const char* other : {"restore-progress-12.json", "restore-target-0123456789abcdef.jsonx", "manifest.json", "items-r0000-00000.jsonl.gz"}) {
        EXPECT_FALSE(RestoreRecordPrefixOf(other)) << other;
    }
    EXPECT_TRUE(IsLockName(RestoreLockName("db/c")));
    EXPECT_NE(RestoreLockName("db/c"), RestoreLockName("db/c?chain 2026"));
}

TEST(RestoreTargetRecord, OneClaimPerRunAndTheRidIsKept) {
    TempDir dir;
    const auto store = OpenBackupStore(dir.path());
    RestoreTarget first{"https://a", "db/c", "2026-12-08T10:00:00Z", "", 2};
    EXPECT_FALSE(ReadRestoreTarget(*store, first));
    EXPECT_TRUE(ClaimRestoreTarget(*store, first));
    RestoreTarget second = first;
    second.shards = 3;
    EXPECT_FALSE(ClaimRestoreTarget(*store, second));  // the run is claimed: its count stands
    first.rid = "abc==";
    WriteRestoreTarget(*store, first);
    const auto read = ReadRestoreTarget(*store, second);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->rid, "abc==");
    EXPECT_EQ(read->shards, 2);
    // Another backup or another run key into the same container is another run.
    RestoreTarget chain = first;
    chain.run = "db/c?chain 2026";
    EXPECT_FALSE(ReadRestoreTarget(*store, chain));
    // Restore progress records are still found by their own listing, not the target records.
    EXPECT_TRUE(ReadAllRestoreProgress(*store).empty());
}

TEST(SealedCounts, AManifestMustHoldWhatItsFilesAndKeysSay) {
    Manifest manifest;
    manifest.files = {DataFile{"items-r0000-00000.jsonl.gz", 10, 100, "0", ""}, DataFile{"items-r0001-00000.jsonl.gz", 5, 50, "0", ""}};
    manifest.itemCount = 15;
    ChainRecord chain;
    chain.kind = ChainRecord::kFull;
    chain.keys = DataFile{kKeysFileName, 15, 10, "0", ""};
    SetChain(manifest, chain);
    EXPECT_NO_THROW(CheckSealedCounts(manifest, "m"));
    manifest.itemCount = 14;
    EXPECT_THROW(CheckSealedCounts(manifest, "m"), ToolError);  // its files hold 15
    manifest.files.pop_back();
    manifest.itemCount = 10;
    try {
        CheckSealedCounts(manifest, "m");
        FAIL() << "a manifest short of its key file's items was taken";
    } catch (const ToolError& e) {
        EXPECT_NE(std::string(e.what()).find("its key file keys.jsonl.gz 15"), std::string::npos) << e.what();
    }
    manifest.chain = nullptr;  // a backup of format 1 or 2 before chains: no key file to compare
    EXPECT_NO_THROW(CheckSealedCounts(manifest, "m"));
}

TEST(WriterLocks, ASecondWriterIsRefusedNamingTheFirstAndShardsLockApart) {
    TempDir dir;
    const std::shared_ptr<BackupStore> store = OpenBackupStore(dir.path());
    {
        const WriterLocks held = LockLocation(*store);
        try {
            LockLocation(*OpenBackupStore(dir.path()));
            FAIL() << "a second writer took the lock";
        } catch (const LockRefused& e) {
            EXPECT_NE(std::string(e.what()).find("another run holds this backup (host "), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(", pid "), std::string::npos) << e.what();
        }
    }
    EXPECT_NO_THROW(LockLocation(*store));  // released with its holder
    const WriterLocks shard0 = LockShard(store, 0);
    EXPECT_NO_THROW(LockShard(store, 1));
    EXPECT_THROW(LockShard(OpenBackupStore(dir.path()), 0), LockRefused);
    // A finish locks the run and every shard of it: not while shard 0 runs.
    EXPECT_THROW(LockRun(store, kLockFileName, 2), LockRefused);
}
