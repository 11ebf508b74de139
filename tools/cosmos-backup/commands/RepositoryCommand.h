#pragma once

#include "account/AccountReport.h"
#include "pipeline/FullBackup.h"
#include "repository/Catalogue.h"
#include "repository/Repository.h"
#include "repository/Retention.h"
#include "storage/OpenBackupStore.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <optional>
#include <string>

namespace cosmosbackup {

// --repo and what goes with it on backup, restore, verify and key.
struct RepositoryOptions {
    std::string repo;
    std::string backup;  // restore, verify: an id, or "latest"
    std::string at;      // restore, verify: the newest backup taken at or before this time
    std::string source;  // restore, verify: DB/CONTAINER (or DB of an account run) among several sources
    bool full = false;   // backup: a full backup even where an increment could follow
    bool insecure = false;  // backup: a new repository without encryption
    bool finish = false;    // backup --finish: finish the source's current sharded run
};

void AddRepositoryOptions(CLI::App* backup, CLI::App* restore, CLI::App* verify, CLI::App* key, RepositoryOptions& options);

// The commands of a repository: list-backups, check, forget, prune.
struct RepositoryCommands {
    CLI::App* list = nullptr;
    CLI::App* check = nullptr;
    CLI::App* forget = nullptr;
    CLI::App* prune = nullptr;
    std::string repo;
    std::string database, container;
    bool readData = false;
    RetentionPolicy policy;
    bool dryRun = false;
    bool thenPrune = false;

    bool Parsed() const { return list->parsed() || check->parsed() || forget->parsed() || prune->parsed(); }
};

void AddRepositoryCommands(CLI::App& app, RepositoryCommands& commands);
// Runs the one that was parsed; returns the exit status (check: 4 when it found problems).
int RunRepositoryCommand(const RepositoryCommands& commands, const StoreOptions& storage, bool json);

// A backup into a repository: the source's lock held from before the choice of its parent to
// the end of the run, and its run record. A task of a sharded run (--shard) holds the lock only
// while it chooses the run or joins the source's current one; --finish holds it to the end.
class RepositoryBackup {
public:
    // Chooses the backup's id and parent (or the unfinished backup of the source it resumes),
    // sets `backup`'s location and parent, and records the run. `account` for a run
    // over many containers.
    RepositoryBackup(const RepositoryOptions& options, BackupOptions& backup, bool account, const std::string& endpoint,
                     const std::string& toolVersion, StoreOptions& storage);
    // Records the run's figures; a run that did not end whole stays unfinished (the next resumes it).
    // A shard task records nothing: its run ends with --finish.
    void Finish(const RunReport& report);

private:
    void BeginNew(const CatalogueBackup* parent, BackupOptions& backup);
    void BeginShard(const RepositoryOptions& options, BackupOptions& backup);
    void BeginFinish(BackupOptions& backup);
    // Sets `backup`'s location and parent to the run's.
    void ChooseLocation(BackupOptions& backup) const;

    Repository m_repository;
    WriterLocks m_lock;
    RunRecord m_record;
    bool m_sharded = false;
};

// Opens the repository once for a backup run given --repo (null without).
// `storage` becomes the repository's (no password for an unencrypted one).
std::unique_ptr<RepositoryBackup> BeginRepositoryBackup(const RepositoryOptions& options, BackupOptions& backup, bool account,
                                                        const std::string& endpoint, const std::string& toolVersion, StoreOptions& storage);

// restore/verify --repo: sets `directory` to the backup --backup or --at chooses and `storage`
// to the repository's; says which backup that is. Does nothing without --repo.
void ChooseRepositoryBackup(const RepositoryOptions& options, std::string& directory, StoreOptions& storage, bool json);

// The location options of backup, restore, verify and key: --repo, or the command's own
// location option (`given`, named `name`), not both and not neither.
void RequireOneLocation(const RepositoryOptions& options, const std::string& given, const std::string& name);

}  // namespace cosmosbackup
