// Backup chains without a server: key files and the checks that make a chain link that is
// missing, replaced or edited an error before a restore writes anything.
#include "TempDir.h"
#include "chain/ChainLinks.h"
#include "chain/ChainRecord.h"
#include "chain/KeyComparison.h"
#include "chain/KeySet.h"
#include "pipeline/IncrementBackup.h"
#include "format/DataFiles.h"
#include "format/GzipFile.h"
#include "format/Manifest.h"
#include "storage/LocationPath.h"
#include "storage/OpenBackupStore.h"
#include "support/ToolError.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace cosmosbackup;
namespace fs = std::filesystem;

namespace {

// A subdirectory of the test's directory, made on first use.
std::string Sub(const TempDir& root, const std::string& name) {
    fs::create_directories(root / name);
    return root / name;
}

Manifest SourceManifest(const std::string& container = "orders") {
    Manifest m;
    m.createdAt = "2026-12-07T00:00:00Z";
    m.sourceEndpoint = "https://example.test/";
    m.sourceDatabase = "shop";
    m.sourceContainer = container;
    m.partitionKey = {{"paths", {"/tenant"}}, {"kind", "Hash"}, {"version", 2}};
    m.container = {{"id", container}, {"partitionKey", m.partitionKey}};
    return m;
}

void WriteBase(const std::string& dir, const KeySet& keys, const std::string& container = "orders") {
    Manifest m = SourceManifest(container);
    ChainRecord chain;
    chain.kind = ChainRecord::kFull;
    chain.changeFeed.ranges = {{{"id", "0"}, {"minInclusive", ""}, {"maxExclusive", "FF"}, {"etag", "\"7\""}}};
    chain.keys = WriteKeyFile(*OpenBackupStore(dir), kKeysFileName, keys);
    SetChain(m, chain);
    WriteManifest(*OpenBackupStore(dir), m);
}

void WriteIncrement(const std::string& dir, const std::string& parent, const std::string& base, int length) {
    Manifest m = SourceManifest();
    ChainRecord chain;
    chain.kind = ChainRecord::kIncremental;
    chain.keys = WriteKeyFile(*OpenBackupStore(dir), kKeysFileName, {R"(["a","t1"])"});
    chain.deletions = WriteKeyFile(*OpenBackupStore(dir), kDeletionsFileName, {R"(["b","t2"])"});
    chain.parent = LinkReference{RelativeLocation(parent, dir), ManifestSha256(*OpenBackupStore(parent))};
    chain.base = LinkReference{RelativeLocation(base, dir), ManifestSha256(*OpenBackupStore(base))};
    chain.length = length;
    SetChain(m, chain);
    WriteManifest(*OpenBackupStore(dir), m);
}

}  // namespace

TEST(KeyFiles, RoundTripAndRefuseDamage) {
    TempDir root;
    const auto dir = Sub(root, "b");
    KeySet keys = {CanonicalKey(R"([ "z", 1.5 ])"), CanonicalKey(R"(["a",{}])"), CanonicalKey(R"(["a","t"])")};
    keys.Normalise();
    const DataFile entry = WriteKeyFile(*OpenBackupStore(dir), kKeysFileName, keys);
    EXPECT_EQ(ReadKeyFile(*OpenBackupStore(dir), entry), keys);

    DataFile wrongCount = entry;
    wrongCount.items += 1;
    EXPECT_THROW(ReadKeyFile(*OpenBackupStore(dir), wrongCount), ToolError);
    // Keys out of order would make the set comparisons of an increment wrong.
    const DataFile unsorted = WriteKeyFile(*OpenBackupStore(dir), kDeletionsFileName, {R"(["b","t"])", R"(["a","t"])"});
    EXPECT_THROW(ReadKeyFile(*OpenBackupStore(dir), unsorted), ToolError);
    std::ofstream(fs::path(dir) / kKeysFileName, std::ios::app) << "x";
    try {
        ReadKeyFile(*OpenBackupStore(dir), entry);
        FAIL() << "a changed key file was read";
    } catch (const ToolError& e) {
        EXPECT_NE(std::string(e.what()).find(kKeysFileName), std::string::npos) << e.what();
    }
    EXPECT_THROW(CanonicalKey(R"({"id":"a"})"), ToolError);
    EXPECT_THROW(WriteKeyFile(*OpenBackupStore(dir), "../keys.jsonl.gz", keys), ToolError);
}

TEST(Chains, LinksAreCheckedFromTheLastToTheBase) {
    TempDir root;
    const auto base = Sub(root, "full"), first = Sub(root, "inc1"), second = Sub(root, "inc2");
    WriteBase(base, {R"(["a","t1"])", R"(["b","t2"])"});
    WriteIncrement(first, base, base, 2);
    WriteIncrement(second, first, base, 3);
    const auto chain = LoadChain(OpenBackupStore(second));
    ASSERT_EQ(chain.size(), 3u);
    EXPECT_EQ(fs::path(chain[0].directory).filename(), "full");
    EXPECT_EQ(fs::path(chain[1].directory).filename(), "inc1");
    EXPECT_EQ(chain[1].record.parent.path, "../full");
    CheckChainFiles(chain);

    std::vector<std::string> replayed;
    ReplayChain(chain, [&](const std::string& item) { replayed.push_back(item); },
                [&](const std::string& key) { replayed.push_back("-" + key); });
    EXPECT_EQ(replayed, (std::vector<std::string>{R"(-["b","t2"])", R"(-["b","t2"])"}));

    // The base replaced by another full backup (of the same container): its hash no longer matches.
    WriteBase(base, {R"(["a","t1"])"});
    try {
        LoadChain(OpenBackupStore(second));
        FAIL() << "a replaced link was accepted";
    } catch (const ToolError& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("chain link " + base), std::string::npos) << what;
        EXPECT_NE(what.find("SHA-256"), std::string::npos) << what;
    }
    fs::remove_all(base);
    EXPECT_THROW(LoadChain(OpenBackupStore(second)), ToolError);
}

TEST(Chains, AParentOfAnotherContainerIsRefused) {
    TempDir root;
    const auto base = Sub(root, "full"), increment = Sub(root, "inc");
    WriteBase(base, {}, "invoices");
    WriteIncrement(increment, base, base, 2);
    try {
        LoadChain(OpenBackupStore(increment));
        FAIL() << "a chain across two containers was accepted";
    } catch (const ToolError& e) {
        EXPECT_NE(std::string(e.what()).find("another container"), std::string::npos) << e.what();
    }
}

// Links name each other relative to their own location, a blob prefix within its container.
TEST(Chains, BlobLinksResolveWithinTheirContainer) {
    const std::string container = "http://127.0.0.1:10000/acct/backups";
    EXPECT_EQ(RelativeLocation(container + "/orders/full", container + "/orders/inc1/"), "../full");
    EXPECT_EQ(ResolveLocation(container + "/orders/inc1", "../full"), container + "/orders/full");
    EXPECT_TRUE(SameLocation(container + "/orders//full/", container + "/orders/full"));
    EXPECT_THROW(ResolveLocation(container + "/inc1", "../../elsewhere"), ToolError);
    EXPECT_THROW(ResolveLocation(container + "/inc1", "/tmp/full"), ToolError);
    EXPECT_THROW(RelativeLocation(container + "/full", "/tmp/inc1"), ToolError);
    EXPECT_THROW(RelativeLocation("http://127.0.0.1:10000/acct/other/full", container + "/inc1"), ToolError);
}

// An item that changed twice while an increment read the feed is kept in its last version only.
TEST(Increments, OnlyTheLastVersionOfAnItemIsKept) {
    TempDir dir;
    const auto write = [&](const std::string& name, const std::vector<std::string>& lines) {
        GzipLineWriter writer(dir / name);
        for (const auto& line : lines) writer.WriteLine(line);
        writer.Close();
        return DataFile{name, static_cast<std::int64_t>(lines.size()), static_cast<std::int64_t>(fs::file_size(dir / name)),
                        FileCrc32(dir / name)};
    };
    Manifest m = SourceManifest();
    m.files = {write("items-r0000-00000.jsonl.gz", {R"({"id":"a","tenant":"t","v":1})", R"({"id":"b","tenant":"t","v":1})"}),
               write("items-r0000-00001.jsonl.gz", {R"({"id":"a","tenant":"t","v":2})", R"({"id":"a","tenant":"u","v":1})"})};
    m.itemCount = 4;
    const Manifest read = m;
    KeepLatestVersions(*OpenBackupStore(dir.path()), m);
    EXPECT_EQ(m.itemCount, 3);
    EXPECT_NE(m.files[0].name, read.files[0].name) << "a sealed file is never rewritten in place";
    EXPECT_FALSE(fs::exists(dir / read.files[0].name)) << "the file it replaces goes once the switch is recorded";
    EXPECT_EQ(m.files[1].name, read.files[1].name) << "a file without earlier versions stays";
    CheckDataFiles(*OpenBackupStore(dir.path()), m);  // sizes and checksums follow the new file
    std::vector<std::string> items;
    ForEachItem(*OpenBackupStore(dir.path()), m, [&](const std::string& item) { items.push_back(item); });
    EXPECT_EQ(items, (std::vector<std::string>{R"({"id":"b","tenant":"t","v":1})", R"({"id":"a","tenant":"t","v":2})",
                                               R"({"id":"a","tenant":"u","v":1})"}));
    // Killed after the switch: the resumed increment takes the recorded list, not the ranges' files.
    Manifest resumed = read;
    KeepLatestVersions(*OpenBackupStore(dir.path()), resumed);
    EXPECT_EQ(resumed.files[0].name, m.files[0].name);
    const auto parts = KeysOfItems(*OpenBackupStore(dir.path()), resumed);
    MergedKeys keys(parts);
    std::vector<std::string> merged;
    for (std::string_view key; keys.Next(key);) merged.emplace_back(key);
    EXPECT_EQ(merged, (std::vector<std::string>{R"(["a","t"])", R"(["a","u"])", R"(["b","t"])"}));
}

// An increment's key files: what the parent had or what changed is kept when the container
// still holds it and deleted otherwise, each key once, whatever order the parts came in.
TEST(Increments, KeyComparisonStreamsExactly) {
    TempDir root;
    const auto parentDir = Sub(root, "parent"), dir = Sub(root, "inc");
    const DataFile parentKeys = WriteKeyFile(*OpenBackupStore(parentDir), kKeysFileName, {R"(["a",1])", R"(["b",1])", R"(["c",1])", R"(["d",1])"});
    std::vector<KeySet> changed{{R"(["e",1])", R"(["b",1])"}, {R"(["f",1])", R"(["e",1])"}};
    std::vector<KeySet> live{{R"(["d",1])", R"(["a",1])", R"(["e",1])"}, {R"(["c",11])", R"(["b",1])"}};
    for (auto& part : changed) part.Normalise();
    for (auto& part : live) part.Normalise();
    KeyFileCursor parent(*OpenBackupStore(parentDir), parentKeys);
    MergedKeys changedKeys(changed), liveKeys(live);
    const auto store = OpenBackupStore(dir);
    const KeyChangeFiles files = CompareKeys(*store, parent, changedKeys, liveKeys);
    EXPECT_EQ(ReadKeyFile(*store, files.keys), (KeySet{R"(["a",1])", R"(["b",1])", R"(["d",1])", R"(["e",1])"}));
    EXPECT_EQ(ReadKeyFile(*store, files.deletions), (KeySet{R"(["c",1])", R"(["f",1])"}));
}

// From the deletions feed instead: the parent's keys and the changed ones, minus the keys
// whose last change was a deletion (one deleted and created again is changed, not deleted;
// one deleted that neither had is no deletion of this increment).
TEST(Increments, DeletedKeysAreRemovedExactly) {
    TempDir root;
    const auto parentDir = Sub(root, "parent"), dir = Sub(root, "inc");
    const DataFile parentKeys = WriteKeyFile(*OpenBackupStore(parentDir), kKeysFileName, {R"(["a",1])", R"(["b",1])", R"(["c",1])"});
    std::vector<KeySet> changed{{R"(["b",1])", R"(["e",1])"}};
    std::vector<KeySet> deleted{{R"(["c",1])", R"(["x",1])"}};
    changed[0].Normalise();
    deleted[0].Normalise();
    KeyFileCursor parent(*OpenBackupStore(parentDir), parentKeys);
    MergedKeys changedKeys(changed), deletedKeys(deleted);
    const auto store = OpenBackupStore(dir);
    const KeyChangeFiles files = RemoveDeletedKeys(*store, parent, changedKeys, deletedKeys);
    EXPECT_EQ(ReadKeyFile(*store, files.keys), (KeySet{R"(["a",1])", R"(["b",1])", R"(["e",1])"}));
    EXPECT_EQ(ReadKeyFile(*store, files.deletions), (KeySet{R"(["c",1])"}));
}

// The feed's positions are kept only when every range has one, and read back from the manifest;
// a chain record without them (older backups) still reads.
TEST(Chains, AllVersionsPositionsAreOptional) {
    ChangeFeedPositions started;
    started.at = "2026-12-08T00:00:00Z";
    started.ranges = {{{"id", "0"}, {"etag", "\"7\""}, {"allVersionsEtag", "\"9\""}}, {{"id", "1"}, {"etag", "\"3\""}}};
    EXPECT_FALSE(AllVersionsPositions(started));
    started.ranges[1]["allVersionsEtag"] = "\"4\"";
    const auto positions = AllVersionsPositions(started);
    ASSERT_TRUE(positions);
    EXPECT_EQ(positions->ranges[0].at("etag"), "\"9\"");
    EXPECT_FALSE(positions->ranges[1].contains("allVersionsEtag"));

    Manifest m = SourceManifest();
    ChainRecord chain;
    chain.kind = ChainRecord::kFull;
    chain.changeFeed = started;
    chain.keys.name = kKeysFileName;
    SetChain(m, chain);
    EXPECT_FALSE(ChainOf(m).allVersions);
    chain.allVersions = positions;
    SetChain(m, chain);
    const auto read = ChainOf(m).allVersions;
    ASSERT_TRUE(read);
    EXPECT_EQ(read->ranges[1].at("etag"), "\"4\"");
}
