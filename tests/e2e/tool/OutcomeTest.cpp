// How runs end, without a server: the exit status after a signal, the command that continues
// as a failure names it and as the one function builds it (run by a shell as printed), the
// summaries of one container, the failure report's place, and the records a resumed run reads
// (a restore's report in its progress record, the run's figures in a manifest).
#include "TempDir.h"
#include "commands/Outcome.h"
#include "pipeline/RunFigures.h"
#include "commands/SummaryOutcome.h"
#include "format/DurableFile.h"
#include "format/LocationLayout.h"
#include "format/Manifest.h"
#include "format/RestoreProgress.h"
#include "service/FailureReport.h"
#include "storage/OpenBackupStore.h"
#include "support/Interruption.h"
#include "support/RerunCommand.h"
#include "support/ToolError.h"
#include "support/ToolVersion.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>

using namespace cosmosbackup;

namespace {

// What `sh -c LINE` hands its program: every argument on a line of its own.
std::string ArgumentsAsShellSeesThem(const std::string& line) {
    std::unique_ptr<FILE, int (*)(FILE*)> shell(::popen(("set -- " + line + "; printf '%s\\n' \"$@\"").c_str(), "r"), ::pclose);
    std::string out;
    char buffer[256];
    while (shell && std::fgets(buffer, sizeof buffer, shell.get()) != nullptr) out += buffer;
    return out;
}

}  // namespace

TEST(ContinuationLine, KeepsProgramOptionsAndQuotingAsAShellReadsThem) {
    const RerunCommand rerun({"/opt/my tools/cosmos-backup", "--endpoint", "https://a.example/", "--key-file", "/keys/it's.key"},
                             {"--parallel", "8"});
    const std::string line = rerun.With({"restore", "--from", "/backups/b 1", "--include", "crm/*", "--resume"});
    EXPECT_EQ(ArgumentsAsShellSeesThem(line),
              "/opt/my tools/cosmos-backup\n--endpoint\nhttps://a.example/\n--key-file\n/keys/it's.key\nrestore\n--from\n"
              "/backups/b 1\n--include\ncrm/*\n--resume\n--parallel\n8\n");
    const RerunCommand shard({"cosmos-backup"}, {}, {"cosmos-backup", "backup", "--out", "a b", "--shard", "0/2"});
    EXPECT_EQ(ArgumentsAsShellSeesThem(shard.Again()), "cosmos-backup\nbackup\n--out\na b\n--shard\n0/2\n") << "a shard runs again as it was";
    EXPECT_EQ(ContinuationIn("read failed; what was written is kept: to continue, run: cb backup --out x --resume"),
              "cb backup --out x --resume");
    EXPECT_EQ(ContinuationIn("the chain is damaged"), "");
}

TEST(ExitStatus, OneContainerSummariesTellDoneRefusedAndDiffers) {
    RestoreSummary restored;
    restored.database = "d";
    restored.container = "c";
    restored.items = 10;
    EXPECT_EQ(RestoreOutcome(restored, "/b").report.exitCode, kExitDone);
    restored.failed = 2;
    restored.reportPath = "/r.jsonl";
    const auto refused = RestoreOutcome(restored, "/b");
    EXPECT_EQ(refused.report.exitCode, kExitItemsRefused);
    ASSERT_EQ(refused.notes.size(), 1u);
    EXPECT_NE(refused.notes[0].find("/r.jsonl"), std::string::npos);

    VerifySummary verified;
    verified.backupItems = 5;
    verified.problems = {"one", "two"};
    verified.problemCount = 7;
    const auto differs = VerifyOutcome(verified, "/b", true, 1.0);
    EXPECT_EQ(differs.report.exitCode, kExitDiffers);
    ASSERT_EQ(differs.notes.size(), 3u);
    EXPECT_EQ(differs.notes[2], "verify: and 5 more (--max-problems lists more)");
    EXPECT_EQ(ReportJson(differs.report).at("containers").at(0).at("differences").size(), 2u);

    IncrementSummary increment;
    increment.chainLength = 2;
    increment.keys = 40;
    increment.keyFileBytes = 1234;
    EXPECT_NE(IncrementOutcome(increment, "/i").text.find("40 items in all (key file: 1234 bytes)"), std::string::npos);
}

// Last in this file: the flag a signal raises is the process's.
TEST(ExitStatus, ARunStoppedByASignalEndsWith128PlusIt) {
    EXPECT_EQ(StatusAfterSignal(kExitFailed), kExitFailed);
    EXPECT_NO_THROW(StopIfInterrupted(""));
    RequestInterrupt(SIGTERM);
    EXPECT_EQ(StatusAfterSignal(kExitFailed), kExitTerminated);
    EXPECT_EQ(StatusAfterSignal(kExitDone), kExitDone) << "a run that finished anyway is done";
    EXPECT_EQ(StatusAfterSignal(kExitItemsRefused), kExitItemsRefused);
    EXPECT_THROW(StopIfInterrupted("; sealed"), Interrupted);
    RequestInterrupt(0);
    EXPECT_EQ(InterruptSignal(), 0);
    RequestInterrupt(SIGINT);
    EXPECT_EQ(StatusAfterSignal(kExitFailed), kExitInterrupted);
    RequestInterrupt(0);
}

TEST(FailureReportPlace, IsCheckedBeforeTheFirstWrite) {
    TempDir dir;
    EXPECT_NO_THROW(FailureReport(dir.path(), "d/c", "", 0).CheckWritable());
    EXPECT_NO_THROW(FailureReport(dir / "refused.jsonl", "d/c", "", 0).CheckWritable());
    EXPECT_THROW(FailureReport(dir / "missing/refused.jsonl", "d/c", "", 0).CheckWritable(), ToolError);
    const FailureReport resumed(dir.path(), "d/c", dir / "earlier.jsonl", 2);
    EXPECT_EQ(resumed.path(), dir / "earlier.jsonl") << "a resumed restore appends to the report it began";
    EXPECT_EQ(resumed.count(), 2);
    EXPECT_NO_THROW(resumed.CheckWritable());
}

TEST(RestoreProgress, KeepsTheFailureReportAndReadsOlderRecords) {
    TempDir dir;
    auto store = OpenBackupStore(dir.path());
    RestoreProgress p;
    p.target = "db/c";
    p.failureReport = "/reports/cosmos-backup-failed-db_c.jsonl";
    p.itemsRefused = 2;
    WriteRestoreProgress(*store, p);
    const auto read = ReadRestoreProgress(*store, "db/c");
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->failureReport, p.failureReport);
    EXPECT_EQ(read->itemsRefused, 2);

    nlohmann::json older = nlohmann::json::parse(ReadSmallFile(*store, RestoreProgressName("db/c"), 1 << 20).value());
    older.erase("failureReport");
    older.erase("itemsRefused");
    WriteFileDurably(*store, RestoreProgressName("db/c"), older.dump());
    const auto old = ReadRestoreProgress(*store, "db/c");
    ASSERT_TRUE(old.has_value());
    EXPECT_EQ(old->failureReport, "");
    EXPECT_EQ(old->itemsRefused, 0);
}

TEST(ManifestFigures, AreRecordedOptionallyAndAddUpOverShards) {
    Manifest m;
    m.createdAt = "2026-12-08T00:00:00Z";
    nlohmann::json j = m;
    EXPECT_FALSE(j.contains("requestCharge")) << "not known: not written";
    Manifest older = j.get<Manifest>();
    EXPECT_EQ(older.requestCharge, -1);
    EXPECT_EQ(older.toolVersion, "");

    BackupItems items;
    items.usage.requestCharge = 100;
    items.seconds = 3;
    RequestUsage own;
    own.requestCharge = 5;
    RequestUsage keyRead;
    keyRead.requestCharge = 20;
    NoteRunFigures(m, items, own, keyRead);
    EXPECT_DOUBLE_EQ(m.requestCharge, 125);
    EXPECT_DOUBLE_EQ(m.seconds, 3);

    TempDir dir;
    auto store = OpenBackupStore(dir.path());
    WriteManifest(*store, m);
    const Manifest written = nlohmann::json::parse(ReadSmallFile(*store, kManifestName, 1 << 20).value()).get<Manifest>();
    EXPECT_EQ(written.toolVersion, ToolVersion());
    EXPECT_DOUBLE_EQ(written.requestCharge, 125);

    Manifest whole, second = m;
    second.requestCharge = 30;
    second.seconds = 7;
    AddShardFigures(whole, m, true);
    AddShardFigures(whole, second, false);
    EXPECT_DOUBLE_EQ(whole.requestCharge, 155);
    EXPECT_DOUBLE_EQ(whole.seconds, 7) << "the longest shard";
    AddShardFigures(whole, older, false);
    EXPECT_EQ(whole.requestCharge, -1) << "a shard that recorded none makes the sum unknown";
}
