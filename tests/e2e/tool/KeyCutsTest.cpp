// Cutting a partition key range into sub-ranges where its keys lie: every cut inside the
// range, in order, and parts that hold about as many keys each, for each partition key kind.
#include "service/EffectiveKeyCuts.h"
#include "service/SubRanges.h"

#include <gtest/gtest.h>

#include <random>

using namespace cosmosbackup;

namespace {

const nlohmann::json kHashV2 = {{"paths", {"/tenant"}}, {"kind", "Hash"}, {"version", 2}};
const nlohmann::json kHashV1 = {{"paths", {"/tenant"}}, {"kind", "Hash"}};
const nlohmann::json kMultiHash = {{"paths", {"/a", "/b"}}, {"kind", "MultiHash"}, {"version", 2}};

// A random version 2 hash: 32 hex digits with the top two bits clear.
std::string RandomHashV2(std::mt19937_64& random) {
    static const char* digits = "0123456789ABCDEF";
    std::string key;
    for (int i = 0; i < 32; ++i) key += digits[random() % 16];
    key[0] = digits[(key[0] >= 'A' ? key[0] - 'A' + 10 : key[0] - '0') & 3];
    return key;
}

// How many of `keys` fall in each part that `cuts` make of [min, max).
std::vector<int> Spread(const std::vector<std::string>& keys, const std::vector<std::string>& cuts) {
    std::vector<int> counts(cuts.size() + 1, 0);
    for (const auto& key : keys) {
        std::size_t part = 0;
        while (part < cuts.size() && key >= cuts[part]) ++part;
        ++counts[part];
    }
    return counts;
}

void ExpectEven(const std::vector<int>& counts, int total) {
    for (int n : counts) EXPECT_NEAR(n, total / static_cast<int>(counts.size()), total / 20) << "a part holds " << n;
}

}  // namespace

TEST(KeyCuts, HashV2CutsTheKeysNotTheTextSpace) {
    std::mt19937_64 random(7);
    std::vector<std::string> keys;
    for (int i = 0; i < 8000; ++i) keys.push_back(RandomHashV2(random));
    const auto cuts = CutPoints("", "FF", kHashV2, 8);
    ASSERT_EQ(cuts.size(), 7u);
    ExpectEven(Spread(keys, cuts), 8000);
    // A range that starts and ends inside the key space: cuts stay inside, parts stay even.
    const auto inner = CutPoints("10", "30", kHashV2, 4);
    ASSERT_EQ(inner.size(), 3u);
    std::vector<std::string> innerKeys;
    for (const auto& k : keys) {
        if (k >= "10" && k < "30") {
            innerKeys.push_back(k);
        }
    }
    for (const auto& c : inner) EXPECT_TRUE(c > "10" && c < "30") << c;
    ExpectEven(Spread(innerKeys, inner), static_cast<int>(innerKeys.size()));
}

TEST(KeyCuts, MultiHashCutsOnTheFirstHashAndStaysInsideLongBounds) {
    std::mt19937_64 random(11);
    const std::string min = RandomHashV2(random) + RandomHashV2(random);
    const std::string max = "FF";
    const auto cuts = CutPoints(min, max, kMultiHash, 4);
    ASSERT_EQ(cuts.size(), 3u);
    std::string previous = min;
    for (const auto& c : cuts) {
        EXPECT_EQ(c.size(), 32u);
        EXPECT_GT(c, previous);
        previous = c;
    }
    // Two bounds that share their first hash leave nothing to cut on it.
    EXPECT_TRUE(CutPoints(min, min.substr(0, 32) + "3FFF", kMultiHash, 4).empty());
}

TEST(KeyCuts, HashV1NumbersEncodeInOrderAndCutEvenly) {
    std::vector<double> values = {0, 1, 127, 128, 65535, 123456789, 4294967295.0};
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(DecodeNumberKey(EncodeNumberKey(values[i])), values[i]);
        if (i > 0) {
            EXPECT_LT(EncodeNumberKey(values[i - 1]), EncodeNumberKey(values[i]));
        }
    }
    const auto cuts = CutPoints("", "FF", kHashV1, 4);
    ASSERT_EQ(cuts.size(), 3u);
    for (std::size_t i = 0; i < cuts.size(); ++i) EXPECT_NEAR(DecodeNumberKey(cuts[i]), (i + 1) * 4294967295.0 / 4, 4);
    const auto inner = CutPoints(EncodeNumberKey(1000), EncodeNumberKey(2000), kHashV1, 2);
    ASSERT_EQ(inner.size(), 1u);
    EXPECT_EQ(DecodeNumberKey(inner[0]), 1500);
}

TEST(SubRanges, ReadersAreSpreadOverFewerRanges) {
    const std::vector<ReadPart> ranges = {ItemsOfRange({{"id", "4"}, {"minInclusive", ""}, {"maxExclusive", "20"}}),
                                          ItemsOfRange({{"id", "5"}, {"minInclusive", "20"}, {"maxExclusive", "FF"}})};
    const auto parts = PlanSubRanges(ranges, 5, kHashV2);
    ASSERT_EQ(parts.size(), 5u);
    // The parts tile each range exactly, in key order, and keep its id.
    EXPECT_EQ(parts[0].minInclusive, "");
    EXPECT_EQ(parts[2].maxExclusive, "20");
    EXPECT_EQ(parts[4].maxExclusive, "FF");
    for (std::size_t i = 1; i < parts.size(); ++i) {
        if (parts[i].id == parts[i - 1].id) {
            EXPECT_EQ(parts[i].minInclusive, parts[i - 1].maxExclusive);
        }
    }
    EXPECT_EQ(parts[1].id, "4");
    EXPECT_EQ(parts[3].id, "5");
    EXPECT_EQ(PlanSubRanges(ranges, 2, kHashV2).size(), 2u);
}
