// An encrypted location over a directory: content round trips, every kind of tampering is
// refused, no name shows in the directory, and key slots open, add and remove as they should.
#include "StoreFiles.h"
#include "TempDir.h"
#include "storage/DirectoryStore.h"
#include "storage/EncryptedFile.h"
#include "storage/EncryptedStore.h"
#include "storage/KeySlots.h"
#include "storage/OpenBackupStore.h"
#include "support/ToolError.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace cosmosbackup;
namespace fs = std::filesystem;

namespace {

// Cheap key derivation: the slots' logic does not depend on the cost.
const ScryptParameters kQuickKdf{1024, 8, 1};

std::shared_ptr<const StorePassword> Password(const std::string& text) { return std::make_shared<const StorePassword>(text, kQuickKdf); }

std::string ReadPath(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WritePath(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A new encrypted location in a directory, founded with `password`.
std::unique_ptr<BackupStore> NewLocation(const std::string& directory, const std::string& password = "correct horse") {
    StoreOptions options;
    options.password = Password(password);
    auto store = OpenBackupStore(directory, options);
    store->CreateNew();
    return store;
}

std::unique_ptr<BackupStore> Reopen(const std::string& directory, const std::string& password = "correct horse") {
    StoreOptions options;
    options.password = Password(password);
    return OpenBackupStore(directory, options);
}

// The directory's one data file (not a key slot), as stored.
fs::path StoredFileOf(const std::string& directory) {
    for (const auto& entry : fs::directory_iterator(directory)) {
        if (!IsKeySlotName(entry.path().filename().string())) return entry.path();
    }
    return {};
}

void ExpectRefused(const BackupStore& store, const std::string& name) {
    try {
        ReadFile(store, name);
        FAIL() << name << " was read";
    } catch (const ToolError& e) {
        EXPECT_NE(std::string(e.what()).find("is damaged or was changed: authentication failed"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
}

TEST(EncryptionTest, ContentRoundTripsAtEverySegmentBoundary) {
    TempDir dir;
    auto store = NewLocation(dir.path());
    const std::size_t segment = kPlainSegmentSize;
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, segment - 1, segment, segment + 1, std::size_t{3 * 1024 * 1024 + 17}}) {
        const std::string name = "file-" + std::to_string(size);
        const std::string content = PseudorandomBytes(size, static_cast<unsigned>(size));
        WriteFile(*store, name, content);
        EXPECT_EQ(ReadFile(*store, name), content) << size;
        EXPECT_EQ(ReadFile(*Reopen(dir.path()), name), content) << size;
    }
    for (const auto& file : store->List()) {
        EXPECT_EQ(file.size, std::stoll(file.name.substr(5))) << file.name;  // from the stored size alone
        EXPECT_TRUE(file.md5.empty());
    }
    EXPECT_TRUE(store->CreateExclusive("claim.json", "{\"run\": 1}"));
    EXPECT_FALSE(store->CreateExclusive("claim.json", "{\"run\": 2}"));
    EXPECT_EQ(ReadFile(*store, "claim.json"), "{\"run\": 1}");
}

TEST(EncryptionTest, ChangedFilesAreRefused) {
    TempDir dir;
    auto store = NewLocation(dir.path());
    const std::string content = PseudorandomBytes(3 * kPlainSegmentSize + 100, 7);
    WriteFile(*store, "items-0001.jsonl.gz", content);
    const fs::path stored = StoredFileOf(dir.path());
    const std::string original = ReadPath(stored);
    const std::size_t sealed = kPlainSegmentSize + 16;

    const auto expectRefusedWith = [&](const std::string& bytes, const char* what) {
        WritePath(stored, bytes);
        SCOPED_TRACE(what);
        ExpectRefused(*Reopen(dir.path()), "items-0001.jsonl.gz");
    };
    std::string flipped = original;
    flipped[kEncryptedHeaderSize + sealed + 10] ^= 0x01;
    expectRefusedWith(flipped, "a bit flipped in the second segment");
    flipped = original;
    flipped[6] ^= 0x40;
    expectRefusedWith(flipped, "a bit flipped in the header's salt");
    flipped = original;
    flipped[3] ^= 0x01;
    expectRefusedWith(flipped, "the format version changed");
    expectRefusedWith(original.substr(0, kEncryptedHeaderSize + 3 * sealed), "the last segment dropped");
    expectRefusedWith(original.substr(0, original.size() - 40), "cut within the last segment");
    expectRefusedWith(original.substr(0, kEncryptedHeaderSize + sealed + 500), "cut within a middle segment");
    std::string reordered = original.substr(0, kEncryptedHeaderSize) + original.substr(kEncryptedHeaderSize + sealed, sealed) +
                            original.substr(kEncryptedHeaderSize, sealed) + original.substr(kEncryptedHeaderSize + 2 * sealed);
    expectRefusedWith(reordered, "two segments swapped");
    expectRefusedWith(original.substr(0, kEncryptedHeaderSize - 1), "no more than a header");
    WritePath(stored, original);
    EXPECT_EQ(ReadFile(*Reopen(dir.path()), "items-0001.jsonl.gz"), content);
}

TEST(EncryptionTest, FilesSwappedOrFromAnotherLocationAreRefused) {
    TempDir dir, theirs;
    auto store = NewLocation(dir.path());
    WriteFile(*store, "manifest.json", "{\"items\": 1}");
    WriteFile(*store, "checkpoint.json", "{\"items\": 2}");
    std::vector<fs::path> stored;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        if (!IsKeySlotName(entry.path().filename().string())) stored.push_back(entry.path());
    }
    ASSERT_EQ(stored.size(), 2u);
    const std::string first = ReadPath(stored[0]);
    WritePath(stored[0], ReadPath(stored[1]));
    WritePath(stored[1], first);
    ExpectRefused(*Reopen(dir.path()), "manifest.json");
    ExpectRefused(*Reopen(dir.path()), "checkpoint.json");

    // The same name and password in another location: another master key.
    auto other = NewLocation(theirs.path());
    WriteFile(*other, "checkpoint.json", "{\"items\": 3}");
    WritePath(stored[0], ReadPath(StoredFileOf(theirs.path())));
    WritePath(stored[1], ReadPath(StoredFileOf(theirs.path())));
    ExpectRefused(*Reopen(dir.path()), "checkpoint.json");
    ExpectRefused(*Reopen(dir.path()), "manifest.json");
}

TEST(EncryptionTest, NoNameShowsInTheDirectory) {
    TempDir dir;
    auto store = NewLocation(dir.path());
    WriteFile(*store, "manifest.json", "{}");
    auto below = store->Below("salesdb")->Below("orders");
    below->CreateNew();
    WriteFile(*below, "items-0001.jsonl.gz", "x");
    std::string holder;
    auto lock = store->TryLock("backup.lock", "test", holder);
    ASSERT_NE(lock, nullptr);

    for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        if (name == "backup.lock" || IsKeySlotName(name)) continue;
        for (const char* logical : {"manifest", "salesdb", "orders", "items", "json"}) {
            EXPECT_EQ(name.find(logical), std::string::npos) << name;
        }
    }
    const auto files = store->List();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].name, "manifest.json");
    EXPECT_EQ(files[1].name, "salesdb");
    EXPECT_FALSE(files[1].plain);
    // A sub-location named by its logical path opens through the key slots above it.
    EXPECT_EQ(ReadFile(*Reopen(dir / "salesdb/orders"), "items-0001.jsonl.gz"), "x");
    EXPECT_EQ(ReadFile(*store->Below("salesdb")->Below("orders"), "items-0001.jsonl.gz"), "x");
}

TEST(EncryptionTest, KeySlotsOpenAddAndRemove) {
    TempDir dir;
    auto store = NewLocation(dir.path(), "first password");
    WriteFile(*store, "manifest.json", "{\"n\": 1}");
    auto plain = OpenStoredFiles(dir.path());
    auto slots = ReadKeySlots(*plain);
    ASSERT_EQ(slots.size(), 1u);
    EXPECT_EQ(slots[0].kdf.n, kQuickKdf.n);

    std::string opened;
    const std::string masterKey = UnlockMasterKey(slots, *Password("first password"), dir.path(), &opened);
    EXPECT_EQ(opened, slots[0].id);
    const std::string second = AddKeySlot(*plain, masterKey, *Password("second password"));
    EXPECT_EQ(ReadKeySlots(*plain).size(), 2u);
    EXPECT_EQ(ReadFile(*Reopen(dir.path(), "first password"), "manifest.json"), "{\"n\": 1}");
    EXPECT_EQ(ReadFile(*Reopen(dir.path(), "second password"), "manifest.json"), "{\"n\": 1}");
    EXPECT_EQ(Reopen(dir.path(), "second password")->List().size(), 1u);  // slots are no files of the backup

    plain->Remove(KeySlotName(slots[0].id));
    EXPECT_THROW(Reopen(dir.path(), "first password"), ToolError);
    EXPECT_EQ(ReadFile(*Reopen(dir.path(), "second password"), "manifest.json"), "{\"n\": 1}");

    try {
        Reopen(dir.path(), "a wrong password");
        FAIL() << "opened with a wrong password";
    } catch (const ToolError& e) {
        EXPECT_NE(std::string(e.what()).find("wrong password"), std::string::npos) << e.what();
    }
    try {
        OpenBackupStore(dir.path());
        FAIL() << "opened without a password";
    } catch (const ToolError& e) {
        EXPECT_NE(std::string(e.what()).find("this backup is encrypted"), std::string::npos) << e.what();
    }
}

TEST(EncryptionTest, ConcurrentFoundersShareOneKey) {
    TempDir dir;
    // Two runs (shards) open the empty location before either wrote: both end up with one key.
    auto first = Reopen(dir.path());
    auto second = Reopen(dir.path());
    first->CreateNew();
    WriteFile(*first, "a", "from the first");
    WriteFile(*second, "b", "from the second");
    EXPECT_EQ(ReadKeySlots(*OpenStoredFiles(dir.path())).size(), 1u);
    auto reopened = Reopen(dir.path());
    EXPECT_EQ(ReadFile(*reopened, "a"), "from the first");
    EXPECT_EQ(ReadFile(*reopened, "b"), "from the second");
}

TEST(EncryptionTest, PlainLocationsStayPlain) {
    TempDir dir;
    DirectoryStore plain(dir.path());
    plain.CreateNew();
    WriteFile(plain, "manifest.json", "{}");
    EXPECT_EQ(ReadPath(dir / "manifest.json"), "{}");
    EXPECT_EQ(ReadFile(*Reopen(dir.path()), "manifest.json"), "{}");  // a password does not change a plain backup
    EXPECT_EQ(ReadFile(*OpenBackupStore(dir.path()), "manifest.json"), "{}");
}

}  // namespace
