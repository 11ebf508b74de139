// Names in an account backup: every database or container id becomes a safe, distinct path
// segment, the include/exclude patterns select as documented, and a restore or verify chooses
// the containers they cover, each with its target.
#include "account/AccountNames.h"
#include "account/ContainerChoice.h"
#include "account/Selection.h"
#include "support/ToolError.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

using namespace cosmosbackup;

TEST(AccountNames, EveryIdIsOneSafeSegment) {
    const std::vector<std::string> ids{"orders", "Orders", ".", "..", "...", "a/b", "a\\b", "a b", "a~2Fb", "~", "%2F",
                                       "a.b", "a_b", "a-b", "caf\xc3\xa9", "x?y#z", std::string("nul\0byte", 8), "-", "_"};
    std::set<std::string> segments;
    for (const auto& id : ids) {
        const std::string s = EncodeSegment(id);
        EXPECT_FALSE(s.empty());
        EXPECT_NE(s, ".");
        EXPECT_NE(s, "..");
        EXPECT_EQ(s.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_~"), std::string::npos) << s;
        EXPECT_TRUE(segments.insert(s).second) << "two ids give " << s;
    }
    EXPECT_EQ(EncodeSegment("shop-2026_eu"), "shop-2026_eu");  // plain ids read as they are
    EXPECT_EQ(EncodeSegment("a/b"), "a~2Fb");
}

TEST(AccountNames, LongIdsAreCutWithAHashAndStayDistinct) {
    const std::string common(250, '.');  // each byte escaped: 750 characters before cutting
    const std::string a = EncodeSegment(common + "a"), b = EncodeSegment(common + "b");
    EXPECT_LE(a.size(), 200u);
    EXPECT_NE(a, b);
    // The cut never leaves half an escape: before the hash, every '~' has its two hex digits.
    const std::string body = a.substr(0, a.find("~~"));
    for (std::size_t i = body.find('~'); i != std::string::npos; i = body.find('~', i + 1)) EXPECT_LE(i + 3, body.size());
}

TEST(Selection, GlobsMatchWholeNames) {
    EXPECT_TRUE(GlobMatch("*", ""));
    EXPECT_TRUE(GlobMatch("audit-*", "audit-2026"));
    EXPECT_FALSE(GlobMatch("audit-*", "xaudit-2026"));
    EXPECT_TRUE(GlobMatch("*-log?", "a-b-log1"));
    EXPECT_FALSE(GlobMatch("*-log?", "a-log"));
    EXPECT_TRUE(GlobMatch("a*b*c", "axxbyybzc"));
    EXPECT_FALSE(GlobMatch("a*b*c", "axxbyyb"));
    EXPECT_FALSE(GlobMatch("Shop", "shop"));  // ids are case-sensitive
}

TEST(Selection, IncludeThenExclude) {
    Selection all;
    EXPECT_TRUE(all.Covers("shop", "orders"));
    Selection s{{"shop/*", "crm"}, {"*/audit-*"}};
    EXPECT_TRUE(s.Covers("shop", "orders"));
    EXPECT_TRUE(s.Covers("crm", "people"));      // a database pattern covers all its containers
    EXPECT_FALSE(s.Covers("shop", "audit-2026"));
    EXPECT_FALSE(s.Covers("crm", "audit-x"));
    EXPECT_FALSE(s.Covers("billing", "orders"));
    EXPECT_FALSE(s.Covers("shopx", "orders"));
}

TEST(Selection, MalformedPatternsAreRefused) {
    for (const char* bad : {"", "/c", "db/", "a/b/c"}) EXPECT_THROW(CheckPattern(bad), ToolError) << bad;
    EXPECT_NO_THROW(CheckPattern("db"));
    EXPECT_NO_THROW(CheckPattern("*/audit-*"));
}

namespace {

AccountContainer Container(const std::string& id, const char* status, std::int64_t items) {
    AccountContainer c;
    c.id = id;
    c.location = EncodeSegment(id);
    c.status = status;
    c.items = items;
    return c;
}

AccountManifest TwoDatabases() {
    AccountManifest m;
    AccountDatabase shop{"shop", "shop", std::nullopt, {Container("orders", AccountContainer::kComplete, 10),
                                                         Container("carts", AccountContainer::kDeleted, 0),
                                                         Container("audit", AccountContainer::kFailed, 5)}};
    AccountDatabase crm{"crm", "crm", std::nullopt, {Container("orders", AccountContainer::kComplete, 7)}};
    m.databases = {shop, crm};
    return m;
}

std::string ThrownBy(const std::function<void()>& run) {
    try {
        run();
    } catch (const ToolError& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(ContainerChoice, ChoosesMapsAndCountsTheSelectedContainers) {
    const AccountManifest m = TwoDatabases();
    const auto chosen = ChooseContainers(m, Selection{{}, {"shop/audit"}}, {{"crm", "crm-copy"}}, "L");
    ASSERT_EQ(chosen.size(), 3u);
    EXPECT_EQ(TargetOf(chosen[0]), "shop/orders");
    EXPECT_EQ(TargetOf(chosen[1]), "shop/carts");  // a deleted one is chosen; the restore skips it
    EXPECT_EQ(TargetOf(chosen[2]), "crm-copy/orders");
    EXPECT_EQ(ExpectedItems(chosen), 17);
}

TEST(ContainerChoice, RefusesWhatCannotBeRestoredWhole) {
    const AccountManifest m = TwoDatabases();
    EXPECT_NE(ThrownBy([&] { ChooseContainers(m, Selection{}, {}, "L"); }).find("did not finish these containers: shop/audit"),
              std::string::npos);
    EXPECT_NE(ThrownBy([&] { ChooseContainers(m, Selection{{}, {"shop/audit"}}, {{"hr", "x"}}, "L"); }).find("--database-map names hr"),
              std::string::npos);
    EXPECT_NE(ThrownBy([&] { ChooseContainers(m, Selection{{}, {"shop/audit"}}, {{"crm", "shop"}}, "L"); })
                  .find("two containers of the backup would be restored into shop/orders"),
              std::string::npos);
    EXPECT_NE(ThrownBy([&] { ChooseContainers(m, Selection{{"none/*"}, {}}, {}, "L"); }).find("no container of the backup in L is selected"),
              std::string::npos);
}
