// The state at a chain's newest backup computed from its files alone: each key of the newest key
// file once, in its newest version, across creates, updates, deletes and re-creates of one id.
#include "chain/ChainState.h"
#include "chain/KeySet.h"

#include <gtest/gtest.h>

#include <map>

using namespace cosmosbackup;

namespace {

const nlohmann::json kPartitionKey = {{"paths", {"/tenant"}}, {"kind", "Hash"}, {"version", 2}};

std::string Item(const std::string& id, const std::string& tenant, int version) {
    return nlohmann::json{{"id", id}, {"tenant", tenant}, {"v", version}}.dump();
}

// What a restore writes: the links' items newest link first, each kept or not by the filter.
std::map<std::string, int> StateOf(const std::vector<std::vector<std::string>>& links, KeySet newestKeys) {
    newestKeys.Normalise();
    ChainStateFilter filter(std::move(newestKeys), kPartitionKey);
    std::map<std::string, int> written;
    for (auto link = links.rbegin(); link != links.rend(); ++link) {
        for (const auto& text : *link) {
            if (!filter.Keep(text)) continue;
            const auto item = nlohmann::json::parse(text);
            const std::string id = item["id"];
            EXPECT_EQ(written.count(id), 0u) << id << " written twice";
            written[id] = item["v"];
        }
    }
    return written;
}

}  // namespace

TEST(ChainState, NewestVersionOfEachLiveKeyOnce) {
    // base: a, b, c, d; 1: a updated, b deleted; 2: b re-created, c deleted; 3: b updated, a deleted
    // and re-created, d updated then deleted; e created in 1 and deleted in 3.
    const std::vector<std::vector<std::string>> links = {
        {Item("a", "t1", 0), Item("b", "t1", 0), Item("c", "t2", 0), Item("d", "t2", 0)},
        {Item("a", "t1", 1), Item("e", "t3", 1)},
        {Item("b", "t1", 2)},
        {Item("b", "t1", 3), Item("a", "t1", 3), Item("d", "t2", 3)},
    };
    const auto written = StateOf(links, {R"(["a","t1"])", R"(["b","t1"])"});
    EXPECT_EQ(written, (std::map<std::string, int>{{"a", 3}, {"b", 3}}));
}

TEST(ChainState, SameIdUnderAnotherKeyIsAnotherItem) {
    // "a" moved from tenant t1 to t2 (deleted under t1, created under t2): both keys differ.
    const std::vector<std::vector<std::string>> links = {{Item("a", "t1", 0), Item("x", "t1", 0)}, {Item("a", "t2", 1)}};
    ChainStateFilter filter(KeySet{R"(["a","t2"])", R"(["x","t1"])"}, kPartitionKey);
    EXPECT_TRUE(filter.Keep(links[1][0]));
    EXPECT_FALSE(filter.Keep(links[0][0]));  // ["a","t1"] was deleted
    EXPECT_TRUE(filter.Keep(links[0][1]));
    EXPECT_FALSE(filter.Keep(links[0][1]));  // a second copy of one version is written once
    EXPECT_EQ(filter.stateSize(), 2u);
}

TEST(ChainState, ItemsWithoutAValueAndDeletedEverything) {
    // An item without the key's value has {} there; a state without keys writes nothing.
    ChainStateFilter none(KeySet{}, kPartitionKey);
    EXPECT_FALSE(none.Keep(Item("a", "t1", 0)));
    ChainStateFilter missing(KeySet{R"(["n",{}])"}, kPartitionKey);
    EXPECT_TRUE(missing.Keep(R"({"id":"n","v":1})"));
    EXPECT_FALSE(missing.Keep(R"({"id":"n","v":0})"));
}
