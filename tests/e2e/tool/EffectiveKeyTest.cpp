// Effective partition keys against the value -> key vectors of the official SDKs' own tests
// (hash version 1, version 2, hierarchical), and the intervals a value or a prefix covers.
#include "service/EffectivePartitionKey.h"
#include "support/ToolError.h"

#include <gtest/gtest.h>

using namespace cosmosbackup;
using nlohmann::json;

namespace {

const json kVersion1Key = {{"paths", {"/pk"}}, {"kind", "Hash"}};
const json kVersion2Key = {{"paths", {"/pk"}}, {"kind", "Hash"}, {"version", 2}};
const json kHierarchicalKey = {{"paths", {"/tenant", "/user", "/session"}}, {"kind", "MultiHash"}, {"version", 2}};

json Values(const std::string& text) { return json::parse(text); }

}  // namespace

TEST(EffectivePartitionKey, HashVersion1MatchesTheSdkVectors) {
    const std::vector<std::pair<std::string, std::string>> vectors = {
        {R"(["redmond"])", "05C1EFE313830C087366656E706F6500"},
        {R"([""])", "05C1CF33970FF80800"},
        {R"([null])", "05C1ED45D7475601"},
        {R"([true])", "05C1D7C5A903D803"},
        {R"([false])", "05C1DB857D857C02"},
        {R"([{}])", "05C1D529E345DC00"},
        {R"([5])", "05C1D9C1C5517C05C014"},
        {R"([123456789])", "05C1D9E1A5311C05C19DB7CD8B40"},
    };
    for (const auto& [value, key] : vectors) EXPECT_EQ(EffectivePartitionKey(Values(value), kVersion1Key), key) << value;
    // A definition without a version is version 1.
    EXPECT_EQ(EffectivePartitionKey(Values(R"(["redmond"])"), json{{"paths", {"/pk"}}}), "05C1EFE313830C087366656E706F6500");
}

TEST(EffectivePartitionKey, HashVersion2MatchesTheSdkVectors) {
    const std::vector<std::pair<std::string, std::string>> vectors = {
        {R"(["redmond"])", "22E342F38A486A088463DFF7838A5963"},
        {R"([""])", "32E9366E637A71B4E710384B2F4970A0"},
        {R"([null])", "378867E4430E67857ACE5C908374FE16"},
        {R"([true])", "0E711127C5B5A8E4726AC6DD306A3E59"},
        {R"([false])", "2FE1BE91E90A3439635E0E9E37361EF2"},
        {R"([{}])", "11622DAA78F835834610ABE56EFF5CB5"},
        {R"([5])", "19C08621B135968252FB34B4CF66F811"},
        {R"([5.12312419050912359123])", "0EF2E2D82460884AF0F6440BE4F726A8"},
    };
    for (const auto& [value, key] : vectors) EXPECT_EQ(EffectivePartitionKey(Values(value), kVersion2Key), key) << value;
}

TEST(EffectivePartitionKey, MultiHashIsOneVersion2HashPerLevel) {
    const std::string seattle = "07E4D14180A45153F00B44907886F856";
    const std::string redmond = "22E342F38A486A088463DFF7838A5963";
    const std::string number = "0EF2E2D82460884AF0F6440BE4F726A8";
    EXPECT_EQ(EffectivePartitionKey(Values(R"(["seattle"])"), kHierarchicalKey), seattle);
    EXPECT_EQ(EffectivePartitionKey(Values(R"(["seattle","redmond"])"), kHierarchicalKey), seattle + redmond);
    EXPECT_EQ(EffectivePartitionKey(Values(R"(["seattle","redmond",5.12312419050912359123])"), kHierarchicalKey), seattle + redmond + number);

    // A prefix covers every key below it; a whole key only itself.
    const auto prefix = EffectiveKeysOf(Values(R"(["seattle"])"), kHierarchicalKey);
    EXPECT_EQ(prefix.min, seattle);
    EXPECT_EQ(prefix.max, seattle + "FF");
    const auto whole = EffectiveKeysOf(Values(R"(["seattle","redmond",5.12312419050912359123])"), kHierarchicalKey);
    EXPECT_LT(prefix.min, whole.min);
    EXPECT_LT(whole.max, prefix.max);
    EXPECT_LT(whole.min, whole.max);
}

TEST(EffectivePartitionKey, RefusesValuesThatCannotBeKeys) {
    EXPECT_THROW(EffectivePartitionKey(Values(R"([[1]])"), kVersion2Key), ToolError);
    EXPECT_THROW(EffectivePartitionKey(Values(R"([{"a":1}])"), kVersion2Key), ToolError);
    EXPECT_THROW(EffectivePartitionKey(Values(R"(["a","b"])"), kVersion2Key), ToolError);
    EXPECT_THROW(EffectivePartitionKey(Values(R"("a")"), kVersion2Key), ToolError);
    EXPECT_THROW(EffectivePartitionKey(Values(R"([])"), kHierarchicalKey), ToolError);
    EXPECT_THROW(EffectivePartitionKey(Values(R"(["a","b","c","d"])"), kHierarchicalKey), ToolError);
}
