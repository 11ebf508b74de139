// Subsets of a container's items: values, hierarchical prefixes and named items; which data
// files can hold them by the key intervals the manifest records (older entries: any file).
#include "TempDir.h"
#include "chain/Subset.h"
#include "format/Manifest.h"
#include "service/EffectivePartitionKey.h"
#include "storage/OpenBackupStore.h"
#include "support/ToolError.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace cosmosbackup;
using nlohmann::json;

namespace {

const json kTenantUser = {{"paths", {"/tenant", "/user"}}, {"kind", "MultiHash"}, {"version", 2}};

DataFile FileOver(const std::string& min, const std::string& max) {
    DataFile f{"items-r0000-00000.jsonl.gz", 1, 10, "00000000"};
    f.keys = KeyInterval{min, max};
    return f;
}

}  // namespace

TEST(Subset, PrefixesValuesAndNamedItems) {
    const Subset tenant({json::array({"contoso"})}, {}, kTenantUser);
    EXPECT_TRUE(tenant.HoldsKey(R"(["a","contoso","u1"])"));
    EXPECT_TRUE(tenant.HoldsItem(R"({"id":"b","tenant":"contoso","user":"u2"})"));
    EXPECT_FALSE(tenant.HoldsKey(R"(["a","fabrikam","u1"])"));
    EXPECT_FALSE(tenant.HoldsItem(R"({"id":"c","user":"contoso"})"));  // no tenant: {} there

    const Subset numbers({json(5)}, {}, {{"paths", {"/n"}}, {"kind", "Hash"}, {"version", 2}});
    EXPECT_TRUE(numbers.HoldsKey(R"(["a",5.0])"));  // the same number however written
    EXPECT_FALSE(numbers.HoldsKey(R"(["a","5"])"));

    const Subset named({}, {json::array({"x", "contoso", "u1"})}, kTenantUser);
    EXPECT_TRUE(named.HoldsKey(R"(["x","contoso","u1"])"));
    EXPECT_FALSE(named.HoldsKey(R"(["x","contoso","u2"])"));
    EXPECT_TRUE(Subset().Whole() && Subset().HoldsKey(R"(["any","thing"])"));
    EXPECT_THROW(Subset({json::array({"a", "b", "c"})}, {}, kTenantUser), ToolError);  // more values than paths
}

TEST(Subset, OnlyFilesWhoseIntervalMeetsTheKeys) {
    const std::string key = EffectivePartitionKey(json::array({"contoso"}), kTenantUser);
    const Subset tenant({json::array({"contoso"})}, {}, kTenantUser);
    EXPECT_TRUE(tenant.MayHold(FileOver("", "FF")));
    EXPECT_TRUE(tenant.MayHold(FileOver(key, key + "01")));          // users of the tenant lie above its key
    EXPECT_TRUE(tenant.MayHold(FileOver(key + "AB", key + "FF")));
    EXPECT_FALSE(tenant.MayHold(FileOver(key + "FF", "FF")));        // past every user of the tenant
    EXPECT_FALSE(tenant.MayHold(FileOver("", key)));                 // ends where the tenant begins
    DataFile older{"items-00000.jsonl.gz", 1, 10, "00000000"};
    EXPECT_TRUE(tenant.MayHold(older));                              // no interval: read whole

    Manifest m;
    m.files = {FileOver("", key), FileOver(key, "FF"), older};
    for (auto& f : m.files) m.itemCount += f.items;
    const Manifest chosen = FilesOfSubset(m, tenant);
    ASSERT_EQ(chosen.files.size(), 2u);
    EXPECT_EQ(chosen.itemCount, 2);
}

TEST(Subset, IntervalsInTheManifestAndIdsFiles) {
    TempDir dir;
    Manifest m;
    m.createdAt = "2026-12-07T00:00:00Z";
    m.files = {FileOver("", "3FFF"), DataFile{"items-r0001-00000.jsonl.gz", 1, 10, "00000000"}};
    m.itemCount = 2;
    WriteManifest(*OpenBackupStore(dir.path()), m);
    const Manifest back = ReadManifest(*OpenBackupStore(dir.path()));
    ASSERT_TRUE(back.files[0].keys.has_value());
    EXPECT_EQ(back.files[0].keys->maxExclusive, "3FFF");
    EXPECT_FALSE(back.files[1].keys.has_value());

    for (const auto* bad : {R"({"minInclusive":"3F","maxExclusive":"3F"})", R"({"minInclusive":"x","maxExclusive":"FF"})"}) {
        json j = back;
        j["files"][0]["effectiveKeys"] = json::parse(bad);
        EXPECT_THROW(j.get<Manifest>(), ToolError) << bad;
    }

    std::ofstream(dir / "ids.txt") << "[\"a\",\"contoso\",\"u1\"]\n\n[\"b\",\"contoso\",\"u2\"]\n";
    EXPECT_EQ(ReadIdsFile(dir / "ids.txt").size(), 2u);
    std::ofstream(dir / "bad.txt") << "[\"a\",\"contoso\"]\n\"b\"\n";
    try {
        ReadIdsFile(dir / "bad.txt");
        ADD_FAILURE() << "a line that is not [id, values...] was read";
    } catch (const ToolError& e) {
        EXPECT_NE(std::string(e.what()).find("line 2"), std::string::npos) << e.what();
    }
}
