#include "commands/SummaryOutcome.h"

#include <cstdarg>
#include <cstdio>

namespace cosmosbackup {
namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char line[2048];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    return line;
}

double PerSecond(std::int64_t items, double seconds) { return seconds > 0 ? items / seconds : 0.0; }

Outcome OneContainer(const std::string& command, const std::string& location, ContainerReport container, int exitCode) {
    Outcome outcome;
    auto& report = outcome.report;
    report.command = command;
    report.location = location;
    report.seconds = container.seconds;
    report.exitCode = exitCode;
    report.containers.push_back(std::move(container));
    return outcome;
}

ContainerReport BackupReport(const BackupSummary& s, const std::string& kind) {
    ContainerReport r;
    r.source = s.source;
    r.status = "complete";
    r.kind = kind;
    r.items = s.items;
    r.bytes = s.bytes;
    r.usage = s.usage;
    r.seconds = s.seconds;
    return r;
}

std::string BackupText(const BackupSummary& s, const std::string& location) {
    if (s.alreadyDone) return "";  // a shard that found its part complete said so
    if (s.alreadyComplete) {
        return Format("backup of %s in %s is complete: %lld items, %d data files; nothing to resume\n", s.source.c_str(),
                      location.c_str(), static_cast<long long>(s.items), s.files);
    }
    return Format("backup of %s: %lld items, %d scripts, %d data files, %lld bytes in %.2f s (%.0f items/s); throughput: %s -> %s\n",
                  s.source.c_str(), static_cast<long long>(s.items), s.scripts, s.files, static_cast<long long>(s.bytes), s.seconds,
                  PerSecond(s.items, s.seconds), DescribeLayout(s.layout).c_str(), location.c_str()) +
           "requests: " + DescribeUsage(s.usage, s.seconds) + "\n";
}

std::vector<std::string> BackupNotes(const BackupSummary& s) {
    if (s.alreadyDone || s.alreadyComplete || s.countedBefore < 0 || s.items == s.countedBefore) return {};
    return {Format("note: the container held %lld items when the backup began; it changed meanwhile",
                   static_cast<long long>(s.countedBefore))};
}

}  // namespace

Outcome BackupOutcome(const BackupSummary& summary, const std::string& location, const std::string& kind) {
    auto outcome = OneContainer("backup", location, BackupReport(summary, kind), kExitDone);
    outcome.text = BackupText(summary, location);
    outcome.notes = BackupNotes(summary);
    outcome.saidAll = summary.alreadyDone;
    return outcome;
}

Outcome IncrementOutcome(const IncrementSummary& s, const std::string& location, bool finished) {
    auto r = BackupReport(s.backup, s.chainLength > 1 ? "incremental" : "full");
    r.deletions = s.deletions;
    auto outcome = OneContainer("backup", location, r, kExitDone);
    outcome.text = BackupText(s.backup, location);
    outcome.notes = BackupNotes(s.backup);
    outcome.saidAll = s.backup.alreadyDone;
    if (s.chainLength <= 1 || s.backup.alreadyComplete) return outcome;
    outcome.text += Format("increment %d of its chain: %lld changed items, %lld deleted, %lld items in all (key file: %lld bytes)",
                           s.chainLength, static_cast<long long>(s.backup.items), static_cast<long long>(s.deletions),
                           static_cast<long long>(s.keys), static_cast<long long>(s.keyFileBytes));
    if (!finished) {
        outcome.text += Format("; %s: %lld requests, %.2f RU", s.deletionsFromFeed ? "deletions feed read" : "key-only read",
                               static_cast<long long>(s.keyRead.requests), s.keyRead.requestCharge);
    }
    outcome.text += "\n";
    return outcome;
}

namespace {

// A subset's dry run: each key that would be written or deleted, then the counts.
void DescribeDryRun(const RestoreSummary& s, Outcome& outcome) {
    auto& text = outcome.text;
    for (const auto& key : s.wouldWrite) text += "write " + key + "\n";
    for (const auto& key : s.wouldDelete) text += "delete " + key + "\n";
    text += Format("dry run for %s/%s: %zu items would be written, %zu deleted; %lld data files read (%lld bytes)\n", s.database.c_str(),
                   s.container.c_str(), s.wouldWrite.size(), s.wouldDelete.size(), static_cast<long long>(s.filesRead),
                   static_cast<long long>(s.bytesRead));
    outcome.more = {{"dryRun", true}, {"write", s.wouldWrite}, {"delete", s.wouldDelete}, {"filesRead", s.filesRead}, {"bytesRead", s.bytesRead}};
}

}  // namespace

Outcome RestoreOutcome(const RestoreSummary& s, const std::string& location) {
    ContainerReport r;
    r.source = location;
    r.target = s.database + "/" + s.container;
    r.status = "complete";
    r.items = s.items;
    r.failedItems = s.failed;
    r.deletions = s.deleted;
    r.usage = s.usage;
    r.seconds = s.seconds;
    auto outcome = OneContainer("restore", location, r, s.failed == 0 ? kExitDone : kExitItemsRefused);
    if (s.alreadyDone) {
        outcome.saidAll = true;
        return outcome;
    }
    if (s.dryRun) {
        DescribeDryRun(s, outcome);
        return outcome;
    }
    auto& text = outcome.text;
    if (s.counted < 0) {
        text = Format("restore shard into %s/%s: %lld items written in %.2f s (%.0f items/s); scripts and count with restore --finish\n",
                      s.database.c_str(), s.container.c_str(), static_cast<long long>(s.items), s.seconds, PerSecond(s.items, s.seconds));
    } else {
        text = Format("restore into %s/%s: %lld items written, %lld counted, %d scripts in %.2f s (%.0f items/s); throughput: %s\n",
                      s.database.c_str(), s.container.c_str(), static_cast<long long>(s.items), static_cast<long long>(s.counted),
                      s.scripts, s.seconds, PerSecond(s.items, s.seconds), DescribeLayout(s.layout).c_str());
    }
    text += "requests: " + DescribeUsage(s.usage, s.seconds) + "\n";
    if (s.skipped > 0) text += Format("resumed: %lld items had been written before\n", static_cast<long long>(s.skipped));
    if (s.links > 1) text += Format("chain: %d backups restored, %lld deletions applied\n", s.links, static_cast<long long>(s.deleted));
    if (s.filesRead >= 0) {
        text += Format("subset: %lld data files read (%lld bytes), %lld items of it deleted from the target\n",
                       static_cast<long long>(s.filesRead), static_cast<long long>(s.bytesRead), static_cast<long long>(s.deleted));
    }
    if (s.failed > 0) {
        outcome.notes.push_back(Format("cosmos-backup: %lld items could not be written; they are listed with the reasons in %s",
                                       static_cast<long long>(s.failed), s.reportPath.c_str()));
    }
    return outcome;
}

Outcome VerifyOutcome(const VerifySummary& s, const std::string& location, bool offline, double seconds) {
    ContainerReport r;
    r.source = location;
    r.items = s.backupItems;
    r.problems = s.problemCount;
    r.differences = s.problems;
    r.usage = s.usage;
    r.seconds = seconds;
    r.status = s.problemCount == 0 ? "complete" : "differs";
    auto outcome = OneContainer("verify", location, r, s.problemCount == 0 ? kExitDone : kExitDiffers);
    for (const auto& p : s.problems) outcome.notes.push_back("verify: " + p);
    const auto unlisted = s.problemCount - static_cast<std::int64_t>(s.problems.size());
    if (unlisted > 0) outcome.notes.push_back(Format("verify: and %lld more (--max-problems lists more)", static_cast<long long>(unlisted)));
    if (offline) {
        outcome.text = Format("verify: %lld items in the backup, files intact, %lld problems\n", static_cast<long long>(s.backupItems),
                              static_cast<long long>(s.problemCount));
    } else {
        outcome.text = Format("verify: %lld items in the backup, %lld in the container, %lld equal, %lld problems\n",
                              static_cast<long long>(s.backupItems), static_cast<long long>(s.liveItems),
                              static_cast<long long>(s.equalItems), static_cast<long long>(s.problemCount)) +
                       "requests: " + DescribeUsage(s.usage, seconds) + "\n";
    }
    return outcome;
}

}  // namespace cosmosbackup
