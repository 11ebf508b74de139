// A repository without a server: backup ids and times, the retention policy with restic's
// meaning of each rule, forget's decisions over chains, and the records of sharded runs.
#include "TempDir.h"
#include "repository/BackupId.h"
#include "repository/Forget.h"
#include "repository/Repository.h"
#include "repository/Retention.h"
#include "repository/RunRecord.h"
#include "support/ToolError.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

using namespace cosmosbackup;

namespace {

std::time_t At(const std::string& time) { return ParseRfc3339Utc(time).value(); }

// The ids the policy keeps, with the reasons, of backups named by their times.
std::map<std::string, std::string> Kept(const RetentionPolicy& policy, const std::vector<std::string>& times) {
    std::vector<RetentionCandidate> backups;
    for (const auto& t : times) backups.push_back({t, At(t)});
    std::map<std::string, std::string> kept;
    for (const auto& d : ApplyRetention(policy, backups)) {
        if (!d.keep) continue;
        std::string reasons;
        for (const auto& r : d.reasons) reasons += (reasons.empty() ? "" : ",") + r;
        kept[d.id] = reasons;
    }
    return kept;
}

TEST(BackupIdTest, NamesItsTimeSortsByTimeAndRefusesOtherNames) {
    const std::time_t t = At("2026-12-08T18:00:05Z");
    const auto id = NewBackupId(t);
    EXPECT_EQ(id.substr(0, 17), "20261208T180005Z-");
    EXPECT_EQ(TimeOfId(id), t);
    EXPECT_EQ(Rfc3339(*TimeOfId(id)), "2026-12-08T18:00:05Z");
    EXPECT_LT(NewBackupId(t), NewBackupId(t + 1));
    EXPECT_NE(NewBackupId(t), NewBackupId(t));  // the random part
    for (const char* other : {"manifest.json", "20261208T180005Z", "20261308T180005Z-abcdef", "20261208T180005Z-ABCDEF", "x20261208T180005Z-abcdef"}) {
        EXPECT_FALSE(IsBackupId(other)) << other;
    }
    EXPECT_EQ(ParseRfc3339Utc("2026-12-08T18:00:05.250Z"), t);
    EXPECT_EQ(ParseRfc3339Utc("2026-12-08T18:00:05+00:00"), t);
    EXPECT_FALSE(ParseRfc3339Utc("2026-12-08T18:00:05+01:00"));  // UTC only
    EXPECT_FALSE(ParseRfc3339Utc("2026-12-08 18:00"));
}

TEST(RetentionTest, KeepLastKeepsTheNewestWhateverTheOrderGiven) {
    RetentionPolicy policy;
    policy.last = 2;
    const auto kept = Kept(policy, {"2026-12-02T00:00:00Z", "2026-12-04T00:00:00Z", "2026-12-01T00:00:00Z", "2026-12-03T00:00:00Z"});
    EXPECT_EQ(kept, (std::map<std::string, std::string>{{"2026-12-04T00:00:00Z", "last"}, {"2026-12-03T00:00:00Z", "last"}}));
}

TEST(RetentionTest, DailyKeepsTheNewestOfEachOfTheNewestDaysThatHaveABackup) {
    RetentionPolicy policy;
    policy.daily = 3;
    // Two a day on the 1st, 2nd and 5th (no backup on the 3rd and 4th: those days do not count).
    const auto kept = Kept(policy, {"2026-12-01T01:00:00Z", "2026-12-01T23:00:00Z", "2026-12-02T01:00:00Z", "2026-12-02T13:00:00Z",
                                    "2026-12-05T01:00:00Z", "2026-12-05T02:00:00Z"});
    EXPECT_EQ(kept, (std::map<std::string, std::string>{
                        {"2026-12-05T02:00:00Z", "daily"}, {"2026-12-02T13:00:00Z", "daily"}, {"2026-12-01T23:00:00Z", "daily"}}));
}

TEST(RetentionTest, RulesCombineAndEachNamesWhyItKeeps) {
    RetentionPolicy policy;
    policy.last = 1;
    policy.hourly = 2;
    policy.weekly = 2;
    policy.monthly = 2;
    policy.yearly = 3;
    const auto kept = Kept(policy, {
                                       "2024-06-01T00:00:00Z",  // yearly (2024)
                                       "2025-11-30T10:00:00Z",  // yearly (2025), monthly (November)
                                       "2026-11-28T10:00:00Z",  // Saturday of ISO week 48 of 2026: weekly
                                       "2026-11-30T09:00:00Z",  // Monday of week 49: older in its week, month November 2026
                                       "2026-12-01T09:00:00Z",  // week 49
                                       "2026-12-01T10:15:00Z",  // hour 10
                                       "2026-12-01T10:45:00Z",  // newest: every rule
                                   });
    EXPECT_EQ(kept, (std::map<std::string, std::string>{
                        {"2026-12-01T10:45:00Z", "last,hourly,weekly,monthly,yearly"},
                        {"2026-12-01T09:00:00Z", "hourly"},
                        {"2026-11-30T09:00:00Z", "monthly"},
                        {"2026-11-28T10:00:00Z", "weekly"},
                        {"2025-11-30T10:00:00Z", "yearly"},
                        {"2024-06-01T00:00:00Z", "yearly"},
                    }));
}

TEST(RetentionTest, IsoWeeksCrossTheTurnOfTheYear) {
    RetentionPolicy policy;
    policy.weekly = 2;
    // 2026-12-31 (Thursday) and 2027-01-03 (Sunday) are both in ISO week 53 of 2026.
    const auto kept = Kept(policy, {"2026-12-27T12:00:00Z", "2026-12-31T12:00:00Z", "2027-01-03T12:00:00Z"});
    EXPECT_EQ(kept, (std::map<std::string, std::string>{{"2027-01-03T12:00:00Z", "weekly"}, {"2026-12-27T12:00:00Z", "weekly"}}));
}

TEST(RetentionTest, NoRuleKeepsNothingAndEveryBackupHasADecision) {
    const auto decisions = ApplyRetention({}, {{"a", 1}, {"b", 2}});
    ASSERT_EQ(decisions.size(), 2u);
    EXPECT_EQ(decisions[0].id, "b");
    EXPECT_FALSE(decisions[0].keep || decisions[1].keep);
}

// A backup of `source` taken at `time`, continuing `parent` ("" for a full one).
CatalogueBackup Backup(const std::string& time, const std::string& source, const std::string& parent, bool complete = true) {
    CatalogueBackup b;
    b.id = time;
    b.time = At(time);
    b.sourceKey = b.source = source;
    b.parent = parent;
    b.complete = complete;
    CatalogueEntry entry;
    entry.database = source.substr(0, source.find('/'));
    entry.container = source.substr(source.find('/') + 1);
    b.entries.push_back(entry);
    return b;
}

std::map<std::string, std::string> Decisions(const std::vector<CatalogueBackup>& catalogue, const RetentionPolicy& policy,
                                             const std::string& container = "") {
    std::map<std::string, std::string> decided;
    for (const auto& d : DecideForget(catalogue, policy, "", container)) decided[d.id] = (d.keep ? "keep: " : "forget: ") + d.why;
    return decided;
}

TEST(ForgetTest, AKeptIncrementKeepsEveryLinkOfItsChain) {
    const std::string f = "2026-12-01T00:00:00Z", i1 = "2026-12-02T00:00:00Z", i2 = "2026-12-03T00:00:00Z";
    const std::string f2 = "2026-12-04T00:00:00Z", i3 = "2026-12-05T00:00:00Z";
    const std::vector<CatalogueBackup> catalogue{Backup(f, "db/a", ""), Backup(i1, "db/a", f), Backup(i2, "db/a", i1),
                                                 Backup(f2, "db/a", ""), Backup(i3, "db/a", f2)};
    RetentionPolicy policy;
    policy.last = 1;
    EXPECT_EQ(Decisions(catalogue, policy), (std::map<std::string, std::string>{{f, "forget: no rule keeps it"},
                                                                                {i1, "forget: no rule keeps it"},
                                                                                {i2, "forget: no rule keeps it"},
                                                                                {f2, "keep: needed by " + i3},
                                                                                {i3, "keep: last"}}));
    // Keeping the third newest (an increment) keeps its parent and base though no rule names them.
    policy.last = 3;
    const auto decided = Decisions(catalogue, policy);
    EXPECT_EQ(decided.at(i1), "keep: needed by " + i2);
    EXPECT_EQ(decided.at(f), "keep: needed by " + i2);
}

TEST(ForgetTest, EachSourceByItselfUnfinishedKeptForgottenLeftOut) {
    const std::string a1 = "2026-12-01T00:00:00Z", b1 = "2026-12-01T01:00:00Z", a2 = "2026-12-02T00:00:00Z";
    const std::string a3 = "2026-12-03T00:00:00Z", old = "2026-11-01T00:00:00Z";
    std::vector<CatalogueBackup> catalogue{Backup(old, "db/a", ""), Backup(a1, "db/a", ""), Backup(b1, "db/b", ""), Backup(a2, "db/a", ""),
                                           Backup(a3, "db/a", a2, false)};
    catalogue[0].forgotten = true;
    RetentionPolicy policy;
    policy.last = 1;
    // b keeps its only backup; a's newest complete one is kept by the rule and needed by the
    // unfinished run that continues it; the one forgotten before is not decided again.
    EXPECT_EQ(Decisions(catalogue, policy), (std::map<std::string, std::string>{{a1, "forget: no rule keeps it"},
                                                                                {b1, "keep: last"},
                                                                                {a2, "keep: last"},
                                                                                {a3, "keep: unfinished"}}));
    // --container b: a's backups are not decided on at all.
    EXPECT_EQ(Decisions(catalogue, policy, "b"), (std::map<std::string, std::string>{{b1, "keep: last"}}));
}

}  // namespace

TEST(RunRecordTest, AShardedRunKeepsItsShardCountAndARecordWithoutOneIsOfOneProcess) {
    RunRecord run;
    run.id = "20261208T011500Z-3f9a1c";
    run.endpoint = "https://acct.documents.azure.com:443/";
    run.database = "shop";
    run.container = "orders";
    run.shards = 4;
    EXPECT_EQ(RunRecordOf(ToJson(run), "test").shards, 4);
    run.shards = 0;
    const auto single = ToJson(run);
    EXPECT_FALSE(single.contains("shards"));  // as written before sharded runs
    EXPECT_EQ(RunRecordOf(single, "test").shards, 0);
    auto malformed = single;
    malformed["shards"] = "four";
    EXPECT_THROW(RunRecordOf(malformed, "test"), ToolError);
}

TEST(RepositoryRecordsTest, EachSourceHasItsOwnCurrentShardedRunUnderAKeyedName) {
    TempDir dir;
    Repository repository = Repository::Open(dir / "repo", {}, {true, true});
    const auto orders = SourceKeyOf("https://acct/", "shop", "orders", false);
    const auto shop = SourceKeyOf("https://acct/", "shop", "", true);
    EXPECT_FALSE(repository.CurrentShardedRun(orders));
    repository.SetCurrentShardedRun(orders, "20261208T011500Z-3f9a1c");
    repository.SetCurrentShardedRun(shop, "20261208T011501Z-000001");
    const Repository reopened = Repository::Open(dir / "repo", {}, {});
    EXPECT_EQ(reopened.CurrentShardedRun(orders).value_or(""), "20261208T011500Z-3f9a1c");
    EXPECT_EQ(reopened.CurrentShardedRun(shop).value_or(""), "20261208T011501Z-000001");

    std::vector<std::string> records;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "repo")) {
        const auto name = entry.path().filename().string();
        if (name.rfind("sharded-", 0) == 0) records.push_back(entry.path().string());
        EXPECT_EQ(name.find("shop"), std::string::npos) << name;
    }
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(std::regex_match(std::filesystem::path(records[0]).filename().string(), std::regex("sharded-[0-9a-f]{24}\\.json")));

    repository.DropCurrentShardedRun(orders);
    EXPECT_FALSE(reopened.CurrentShardedRun(orders));
    EXPECT_TRUE(reopened.CurrentShardedRun(shop));
    std::ofstream(std::filesystem::exists(records[0]) ? records[0] : records[1], std::ios::trunc) << "{\"id\": \"../elsewhere\"}\n";
    EXPECT_THROW(reopened.CurrentShardedRun(shop), ToolError);  // a record is input: an id, or refused
}
