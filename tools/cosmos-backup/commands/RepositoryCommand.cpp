#include "commands/RepositoryCommand.h"

#include "commands/VerifyCommand.h"
#include "repository/BackupId.h"
#include "repository/Catalogue.h"
#include "repository/Forget.h"
#include "repository/RepositoryCheck.h"
#include "repository/ShardedRunFigures.h"
#include "support/ToolError.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <set>
#include <thread>

namespace cosmosbackup {
namespace {

constexpr int kCheckFoundProblems = 4;

void AddRetentionOptions(CLI::App* command, RetentionPolicy& policy) {
    const auto count = CLI::Range(0, 1000000);
    command->add_option("--keep-last", policy.last, "keep the N newest backups of each source")->check(count);
    command->add_option("--keep-hourly", policy.hourly, "keep the newest backup of each of the N newest hours that have one")->check(count);
    command->add_option("--keep-daily", policy.daily, "keep the newest backup of each of the N newest days (UTC) that have one")->check(count);
    command->add_option("--keep-weekly", policy.weekly, "keep the newest backup of each of the N newest ISO weeks that have one")->check(count);
    command->add_option("--keep-monthly", policy.monthly, "keep the newest backup of each of the N newest months that have one")->check(count);
    command->add_option("--keep-yearly", policy.yearly, "keep the newest backup of each of the N newest years that have one")->check(count);
}

// The source a restore or verify names with --source: "DB/CONTAINER", or "DB" for an account run.
bool NamesSource(const CatalogueBackup& backup, const std::string& source) {
    if (source.empty()) return true;
    const auto slash = source.find('/');
    if (backup.account) return slash == std::string::npos && backup.run && backup.run->database == source;
    return slash != std::string::npos && Matches(backup, source.substr(0, slash), source.substr(slash + 1));
}

// The backup --backup latest or --at chooses: the newest whole one (of the source) taken at or before `at`.
const CatalogueBackup& NewestBackup(const std::vector<CatalogueBackup>& catalogue, const RepositoryOptions& options, std::time_t at) {
    const CatalogueBackup* newest = nullptr;
    std::set<std::string> sources;
    for (const auto& backup : catalogue) {
        if (backup.forgotten || !backup.complete || !NamesSource(backup, options.source)) continue;
        sources.insert(backup.source);
        if (backup.time <= at) newest = &backup;
    }
    if (sources.size() > 1) {
        std::string names;
        for (const auto& s : sources) names += (names.empty() ? "" : ", ") + s;
        throw UsageError("the repository holds backups of several sources (" + names + "): name one with --source DB/CONTAINER (DB for an account run)");
    }
    if (!newest) throw ToolError(options.repo + " holds no complete backup" + (options.at.empty() ? "" : " taken at or before " + options.at) +
                                 (options.source.empty() ? "" : " of " + options.source));
    return *newest;
}

std::string Joined(const std::vector<std::string>& words) {
    std::string text;
    for (const auto& word : words) text += (text.empty() ? "" : ", ") + word;
    return text;
}

int ListBackups(const RepositoryCommands& c, const Repository& repository, bool json) {
    const auto catalogue = ReadCatalogue(repository);
    if (json) std::cout << CatalogueJson(catalogue, c.database, c.container).dump(2) << std::endl;
    else std::cout << CatalogueText(catalogue, c.database, c.container) << std::flush;
    return 0;
}

int Check(const RepositoryCommands& c, const Repository& repository, bool json) {
    ReadDataCheck readData;
    if (c.readData) {
        readData = [&repository](const std::shared_ptr<BackupStore>& store) {
            VerifyOptions options;
            options.directory = store->Describe();
            options.offline = true;
            options.storage = repository.Storage();
            return VerifyBackup(nullptr, store, options).problems;
        };
    }
    const auto problems = CheckRepository(repository, readData);
    const auto backups = ReadCatalogue(repository).size();
    if (json) {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& p : problems) list.push_back({{"problem", p.text}, {"unrestorable", p.unrestorable}});
        std::cout << nlohmann::json{{"backups", backups}, {"problems", list}}.dump(2) << std::endl;
    } else {
        for (const auto& p : problems) std::printf("problem: %s; unrestorable: %s\n", p.text.c_str(), Joined(p.unrestorable).c_str());
        std::printf("check: %zu backups, %zu problems%s\n", backups, problems.size(), c.readData ? " (every file read)" : "");
    }
    return problems.empty() ? 0 : kCheckFoundProblems;
}

void PrintPrune(const PruneSummary& s, bool json) {
    if (json) {
        std::cout << nlohmann::json{{"removed", s.removed}, {"stillNeeded", s.stillNeeded}}.dump(2) << std::endl;
        return;
    }
    for (const auto& id : s.removed) std::printf("removed %s\n", id.c_str());
    for (const auto& id : s.stillNeeded) std::printf("kept %s: forgotten, but a backup that is kept needs it\n", id.c_str());
    std::printf("prune: %zu backups removed\n", s.removed.size());
}

int ForgetBackups(const RepositoryCommands& c, Repository& repository, bool json) {
    if (c.policy.Empty()) throw UsageError("forget needs a policy: at least one of --keep-last, --keep-hourly, --keep-daily, --keep-weekly, --keep-monthly, --keep-yearly");
    const auto decisions = DecideForget(ReadCatalogue(repository), c.policy, c.database, c.container);
    if (!c.dryRun) Forget(repository, decisions);
    nlohmann::json list = nlohmann::json::array();
    for (const auto& d : decisions) {
        if (json) list.push_back({{"id", d.id}, {"source", d.source}, {"keep", d.keep}, {"why", d.why}});
        else std::printf("%s %s %s (%s)\n", d.keep ? "keep  " : (c.dryRun ? "would remove" : "remove"), d.id.c_str(), d.source.c_str(), d.why.c_str());
    }
    if (json && !c.thenPrune) std::cout << nlohmann::json{{"dryRun", c.dryRun}, {"decisions", list}}.dump(2) << std::endl;
    if (c.thenPrune && !c.dryRun) {
        const auto pruned = Prune(repository);
        if (!json) return PrintPrune(pruned, false), 0;
        std::cout << nlohmann::json{{"dryRun", false}, {"decisions", list}, {"removed", pruned.removed}, {"stillNeeded", pruned.stillNeeded}}.dump(2)
                  << std::endl;
    }
    return 0;
}

Repository OpenForBackup(const RepositoryOptions& options, const BackupOptions& backup, const StoreOptions& storage) {
    if (!backup.directory.empty() || !backup.since.empty() || backup.resume) {
        throw UsageError("--repo chooses the backup's location and parent: not with --out, --since or --resume");
    }
    return Repository::Open(options.repo, storage, {!options.finish, options.insecure});
}

// The source's lock, waited for: the tasks of a sharded run that begin at once take it in turn,
// each only while it chooses or adopts the run.
WriterLocks LockSourceWaiting(Repository& repository, const std::string& sourceKey) {
    constexpr auto kPause = std::chrono::milliseconds(200);
    constexpr int kTries = 600;  // two minutes: a run of one process holds it for its whole run
    for (int attempt = 1;; ++attempt) {
        try {
            return repository.LockSource(sourceKey);
        } catch (const LockRefused&) {
            if (attempt == kTries) throw;
            std::this_thread::sleep_for(kPause);
        }
    }
}

// The newest backup of the source that is not forgotten, and the newest complete one (the parent
// of a new backup unless --full).
struct SourceHistory {
    const CatalogueBackup* newest = nullptr;
    const CatalogueBackup* parent = nullptr;
};

SourceHistory HistoryOf(const std::vector<CatalogueBackup>& catalogue, const std::string& sourceKey, bool full) {
    SourceHistory history;
    for (const auto* candidate : OfSource(catalogue, sourceKey)) {
        if (candidate->forgotten) continue;
        history.newest = candidate;
        if (candidate->complete && !full) history.parent = candidate;
    }
    return history;
}

bool UnfinishedRun(const CatalogueBackup* backup) { return backup && !backup->complete && backup->run && !backup->run->finished; }

// The run of a source's sharded tasks, unfinished: the one they join.
std::optional<RunRecord> CurrentShardedRun(const Repository& repository, const std::string& sourceKey) {
    const auto id = repository.CurrentShardedRun(sourceKey);
    if (!id || repository.IsForgotten(*id)) return std::nullopt;
    auto run = repository.ReadRun(*id);
    if (!run || run->finished) return std::nullopt;  // a finish killed before it dropped the record
    return run;
}

}  // namespace

void AddRepositoryOptions(CLI::App* backup, CLI::App* restore, CLI::App* verify, CLI::App* key, RepositoryOptions& o) {
    backup->add_option("--repo", o.repo, "a repository of backups (directory or blob storage URL), made on first use: the backup goes into it, an increment of the source's newest");
    backup->add_flag("--full", o.full, "with --repo: a full backup, not an increment");
    backup->add_flag("--insecure-no-encryption", o.insecure, "with --repo: a new repository without encryption");
    for (auto* command : {restore, verify}) {
        command->add_option("--repo", o.repo, "a repository of backups: take the backup --backup or --at names from it");
        command->add_option("--backup", o.backup, "with --repo: the backup's id, or latest");
        command->add_option("--at", o.at, "with --repo: the newest backup taken at or before this UTC time (RFC 3339)");
        command->add_option("--source", o.source, "with --repo holding several sources: DB/CONTAINER (DB for an account run)");
    }
    key->add_option("--repo", o.repo, "the encrypted repository");
}

void RequireOneLocation(const RepositoryOptions& options, const std::string& given, const std::string& name) {
    if (options.repo.empty() && given.empty()) throw UsageError(name + " or --repo is required");
    if (!options.repo.empty() && !given.empty()) throw UsageError(name + " and --repo name two locations: give one");
    if (options.repo.empty() && (!options.backup.empty() || !options.at.empty() || !options.source.empty())) {
        throw UsageError("--backup, --at and --source choose a backup of a repository: give --repo");
    }
}

void AddRepositoryCommands(CLI::App& app, RepositoryCommands& c) {
    c.list = app.add_subcommand("list-backups", "list the backups of a repository (oldest first)");
    c.check = app.add_subcommand("check", "check a repository's records, chains and files (no database access)");
    c.forget = app.add_subcommand("forget", "forget the backups a retention policy does not keep (per source)");
    c.prune = app.add_subcommand("prune", "remove the forgotten backups no kept backup needs");
    for (auto* command : {c.list, c.check, c.forget, c.prune}) {
        command->add_option("--repo", c.repo, "the repository: directory or blob storage URL")->required();
    }
    for (auto* command : {c.list, c.forget}) {
        command->add_option("--database", c.database, "only backups of this database");
        command->add_option("--container", c.container, "only backups of this container");
    }
    c.check->add_flag("--read-data", c.readData, "read every file too (hashes, gzip, lines, item counts)");
    AddRetentionOptions(c.forget, c.policy);
    c.forget->add_flag("--dry-run", c.dryRun, "say what would be kept and removed, and why; change nothing");
    c.forget->add_flag("--prune", c.thenPrune, "then remove what is forgotten (as prune)");
}

int RunRepositoryCommand(const RepositoryCommands& c, const StoreOptions& storage, bool json) {
    Repository repository = Repository::Open(c.repo, storage, {});
    if (c.list->parsed()) return ListBackups(c, repository, json);
    if (c.check->parsed()) return Check(c, repository, json);
    if (c.forget->parsed()) return ForgetBackups(c, repository, json);
    PrintPrune(Prune(repository), json);
    return 0;
}

RepositoryBackup::RepositoryBackup(const RepositoryOptions& options, BackupOptions& backup, bool account, const std::string& endpoint,
                                   const std::string& toolVersion, StoreOptions& storage)
    : m_repository(OpenForBackup(options, backup, storage)) {
    m_record.endpoint = endpoint;
    m_record.database = backup.database;
    m_record.container = backup.container;
    m_record.account = account;
    m_record.toolVersion = toolVersion;
    storage = m_repository.Storage();
    if (options.finish) {
        BeginFinish(backup);
        return;
    }
    if (backup.shard) {
        BeginShard(options, backup);
        return;
    }
    m_lock = m_repository.LockSource(m_record.SourceKey());
    const auto catalogue = ReadCatalogue(m_repository);
    const auto history = HistoryOf(catalogue, m_record.SourceKey(), options.full);
    if (UnfinishedRun(history.newest) && history.newest->run->shards > 0) {
        throw ToolError("the sharded backup " + history.newest->id + " of " + history.newest->source + " (" +
                        std::to_string(history.newest->run->shards) + " shards) is unfinished: run its shards, then backup --repo --finish");
    }
    // A run of this source that did not end (killed, or failed) is gone on with, as --resume would.
    if (UnfinishedRun(history.newest)) {
        m_record = *history.newest->run;
        backup.directory = m_repository.LocationOf(m_record.id);
        if (!m_record.parent.empty()) backup.since = m_repository.LocationOf(m_record.parent);  // if it never began
        backup.resume = true;
        std::fprintf(stderr, "cosmos-backup: going on with the unfinished backup %s of %s\n", m_record.id.c_str(), history.newest->source.c_str());
        return;
    }
    BeginNew(history.parent, backup);
}

void RepositoryBackup::BeginNew(const CatalogueBackup* parent, BackupOptions& backup) {
    m_record.id = NewBackupId(std::time(nullptr));
    m_record.parent = parent ? parent->id : "";
    m_repository.WriteRun(m_record);
    ChooseLocation(backup);
    std::fprintf(stderr, "cosmos-backup: backup %s of %s: %s\n", m_record.id.c_str(), m_record.DescribeSource().c_str(),
                 parent ? ("an increment of " + parent->id).c_str() : "a full backup");
}

void RepositoryBackup::ChooseLocation(BackupOptions& backup) const {
    backup.directory = m_repository.LocationOf(m_record.id);
    if (!m_record.parent.empty()) backup.since = m_repository.LocationOf(m_record.parent);
}

// Under the source's lock only while it chooses: the first task of a sharded run records the
// run, the others join it; each then holds its own shard's lock in the run's location.
void RepositoryBackup::BeginShard(const RepositoryOptions& options, BackupOptions& backup) {
    m_sharded = true;
    const int shards = backup.shard->count;
    const auto key = m_record.SourceKey();
    const WriterLocks choosing = LockSourceWaiting(m_repository, key);
    if (const auto current = CurrentShardedRun(m_repository, key)) {
        if (current->shards != shards) {
            throw ToolError("the sharded backup " + current->id + " of " + current->DescribeSource() + " runs as " + std::to_string(current->shards) +
                            " shards, not " + std::to_string(shards) + ": give --shard I/" + std::to_string(current->shards) +
                            ", or finish it first (backup --repo --finish)");
        }
        m_record = *current;
        ChooseLocation(backup);
        std::fprintf(stderr, "cosmos-backup: shard %s of the sharded backup %s of %s\n", backup.shard->Describe().c_str(), m_record.id.c_str(),
                     m_record.DescribeSource().c_str());
        return;
    }
    const auto catalogue = ReadCatalogue(m_repository);
    const auto history = HistoryOf(catalogue, key, options.full);
    if (UnfinishedRun(history.newest)) {
        throw ToolError("the backup " + history.newest->id + " of " + history.newest->source +
                        " is unfinished: go on with it as it was run (backup --repo, or --finish for a sharded one) before a new sharded run");
    }
    m_record.shards = shards;
    BeginNew(history.parent, backup);
    m_repository.SetCurrentShardedRun(key, m_record.id);
}

// Finishing the source's current sharded run: its location, under the source's lock to the end.
void RepositoryBackup::BeginFinish(BackupOptions& backup) {
    m_lock = LockSourceWaiting(m_repository, m_record.SourceKey());
    const auto id = m_repository.CurrentShardedRun(m_record.SourceKey());
    const auto run = id ? m_repository.ReadRun(*id) : std::nullopt;
    if (!run) throw ToolError("the repository holds no sharded backup of " + m_record.DescribeSource() + " to finish");
    m_record = *run;
    backup.directory = m_repository.LocationOf(m_record.id);
    std::fprintf(stderr, "cosmos-backup: finishing the sharded backup %s of %s\n", m_record.id.c_str(), m_record.DescribeSource().c_str());
}

void RepositoryBackup::Finish(const RunReport& report) {
    if (m_sharded) return;  // one task of many: the run ends with backup --repo --finish
    m_lock.RequireHeld();
    if (report.exitCode != 0) return;
    for (const auto& container : report.containers) {
        if (container.status != "complete" && container.status != "deleted") return;
        if (m_record.account) m_record.containers[container.source] = {container.usage.requestCharge, container.seconds};
    }
    const auto usage = report.TotalUsage();
    m_record.requestCharge = usage.requestCharge;
    m_record.seconds = report.seconds;
    if (m_record.shards > 0) NoteShardedRunFigures(m_repository, m_record);
    m_record.finished = true;
    m_repository.WriteRun(m_record);
    if (m_record.shards > 0) m_repository.DropCurrentShardedRun(m_record.SourceKey());  // the next sharded run makes a new id
}

std::unique_ptr<RepositoryBackup> BeginRepositoryBackup(const RepositoryOptions& options, BackupOptions& backup, bool account,
                                                        const std::string& endpoint, const std::string& toolVersion, StoreOptions& storage) {
    if (options.repo.empty()) {
        if (options.full || options.insecure) throw UsageError("--full and --insecure-no-encryption go with --repo");
        if (options.finish && backup.directory.empty()) throw UsageError("--finish takes --out or --repo");
        return nullptr;
    }
    return std::make_unique<RepositoryBackup>(options, backup, account, endpoint, toolVersion, storage);
}

void ChooseRepositoryBackup(const RepositoryOptions& options, std::string& directory, StoreOptions& storage, bool json) {
    if (options.repo.empty()) return;
    if (options.backup.empty() == options.at.empty()) throw UsageError("--repo takes one of --backup ID|latest and --at TIME");
    std::time_t at = std::time(nullptr);
    if (!options.at.empty()) {
        const auto parsed = ParseRfc3339Utc(options.at);
        if (!parsed) throw UsageError("--at takes a UTC time in RFC 3339 (2026-12-08T18:00:00Z), not " + options.at);
        at = *parsed;
    }
    const Repository repository = Repository::Open(options.repo, storage, {});
    std::string path = options.backup;
    std::string what;
    if (options.backup.empty() || options.backup == "latest") {
        const auto catalogue = ReadCatalogue(repository);
        const auto& chosen = NewestBackup(catalogue, options, at);
        path = chosen.id;
        what = "backup " + chosen.id + " of " + chosen.source + ", taken " + Rfc3339(chosen.time);
    } else {
        const auto id = path.substr(0, path.find('/'));
        if (!IsBackupId(id)) throw UsageError("--backup takes an id as list-backups shows it, or latest; not " + path);
        if (repository.IsForgotten(id)) throw ToolError("backup " + id + " was forgotten");
        what = "backup " + path;
    }
    directory = repository.LocationOf(path);
    storage = repository.Storage();
    std::fprintf(json ? stderr : stdout, "%s\n", what.c_str());
    std::fflush(stdout);
}

}  // namespace cosmosbackup
