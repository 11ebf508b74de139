// cosmos-backup: lists, backs up, restores and verifies Azure Cosmos DB containers through
// libCloudSDKCppBridge. The account key comes from an environment variable or a file only.
#include "account/AccountManifest.h"
#include "chain/ChainRecord.h"
#include "commands/AccountCommand.h"
#include "commands/CommandLineCheck.h"
#include "commands/KeyCommand.h"
#include "commands/Outcome.h"
#include "commands/RepositoryCommand.h"
#include "commands/SummaryOutcome.h"
#include "commands/VerifyCommand.h"
#include "commands/VersionText.h"
#include "format/WriterLock.h"
#include "pipeline/BackupPipeline.h"
#include "pipeline/BackupSource.h"
#include "pipeline/RestorePipeline.h"
#include "pipeline/ShardedBackupFinish.h"
#include "service/Connection.h"
#include "service/FailureReport.h"
#include "storage/LocationPath.h"
#include "storage/OpenBackupStore.h"
#include "support/CrashReports.h"
#include "support/Interruption.h"
#include "support/RerunCommand.h"
#include "support/SecretMask.h"
#include "support/Secrets.h"
#include "support/ToolError.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace cosmosbackup;

namespace {

struct GlobalOptions {
    ConnectionOptions connection;
    KeySource key;
    std::string passwordFile;  // of encrypted backups
    bool insecure = false;
    std::string logFile;
    bool verbose = false;
    long long maxRu = 0;           // RU/s for the whole run, 0 = no budget
    long long maxRetryWait = 120;  // seconds one request may wait for throttling to pass
    bool json = false;             // the summary as one JSON document, progress as JSON lines
    bool quiet = false;            // no progress lines
    bool allowCoreDumps = false;
};

// Everything the command line names is checked before the first request: a location refused
// (plain http to a host that is not loopback, missing storage credentials), a proxy that is no
// http(s) URL. Returns how blob locations are to be reached.
StoreOptions CheckLocations(const GlobalOptions& global, const std::vector<std::string>& locations) {
    const auto& proxy = global.connection.proxy;
    if (!proxy.empty() && proxy.rfind("http://", 0) != 0 && proxy.rfind("https://", 0) != 0) {
        throw ToolError("cannot use the proxy: --proxy takes an http:// or https:// URL");
    }
    for (const auto& location : locations) {
        if (!location.empty()) CheckLocation(location);
    }
    return StoreOptions{proxy, std::chrono::seconds(global.maxRetryWait), nullptr};
}

// --max-ru and --max-retry-wait, on the commands that move items.
void AddThrottlingOptions(CLI::App* command, GlobalOptions& global) {
    command->add_option("--max-ru", global.maxRu, "request units per second the run may use (0 = no limit)")
        ->check(CLI::Range(0LL, 100000000LL))->capture_default_str();
    command->add_option("--max-retry-wait", global.maxRetryWait, "seconds a request may wait for throttling to pass")
        ->check(CLI::Range(1LL, 86400LL))->capture_default_str();
}

// The library writes its records where CLOUDSDK_LOG names, read at its first record: a file
// the user names, standard error when verbose, else a file already set in the environment,
// else nowhere - never onto the terminal unasked.
void RouteRuntimeRecords(const GlobalOptions& global) {
    if (!global.logFile.empty()) setenv("CLOUDSDK_LOG", global.logFile.c_str(), 1);
    else if (global.verbose) setenv("CLOUDSDK_LOG", "", 1);
    else setenv("CLOUDSDK_LOG", "/dev/null", 0);
}

std::unique_ptr<Connection> Connect(GlobalOptions& global) {
    if (global.connection.endpoint.empty()) throw UsageError("no endpoint: pass --endpoint or set COSMOS_ENDPOINT");
    global.connection.key = ReadAccountKey(global.key);
    global.connection.verifyTls = !global.insecure;
    global.connection.clientOptions = ThrottlingOptions(global.maxRu, global.maxRetryWait) +
                                      (global.connection.clientOptions.empty() ? "" : ";" + global.connection.clientOptions);
    return std::make_unique<Connection>(global.connection);
}

// The command's name as the command line gives it, also when the line could not be parsed.
std::string CommandName(CLI::App& app, int argc, char** argv) {
    const auto commands = app.get_subcommands([](const CLI::App*) { return true; });
    for (int i = 1; i < argc; ++i) {
        for (const auto* c : commands) {
            if (c->get_name() == argv[i]) return argv[i];
        }
    }
    return "";
}

// --json anywhere on a command line that could not be parsed.
bool AsksForJson(int argc, char** argv) {
    return std::any_of(argv + 1, argv + argc, [](const char* argument) { return std::string(argument) == "--json"; });
}

// A report of a run over many containers as the outcome every command ends with.
Outcome Of(RunReport report) {
    Outcome outcome;
    outcome.report = std::move(report);
    return outcome;
}

void PrintList(const std::vector<std::string>& names, bool json) {
    if (json) std::cout << nlohmann::json(names).dump() << '\n';
    else for (const auto& name : names) std::cout << name << '\n';
}

// --replace-subset and --dry-run act on a subset; a subset is of one container's backup.
void CheckSubsetOptions(const RestoreOptions& restore, const VerifyOptions& verify, bool accountBackup) {
    const bool subset = !restore.partitionKeys.empty() || !restore.idsFile.empty();
    if (!subset && (restore.replaceSubset || restore.dryRun)) throw UsageError("--replace-subset and --dry-run take a subset: --partition-key or --ids");
    if (restore.replaceSubset && !restore.intoExisting) throw UsageError("--replace-subset puts a subset back into an existing container: add --into-existing");
    if (accountBackup && (subset || !verify.partitionKeys.empty())) {
        throw UsageError("--partition-key and --ids take the backup of one container (LOC/DATABASE/CONTAINER of an account backup)");
    }
}

std::map<std::string, std::string> ParseDatabaseMap(const std::vector<std::string>& pairs) {
    std::map<std::string, std::string> map;
    for (const auto& pair : pairs) {
        const auto eq = pair.find('=');
        if (eq == 0 || eq == std::string::npos || eq + 1 == pair.size()) throw CLI::ValidationError("--database-map", "takes OLD=NEW, not " + pair);
        if (!map.emplace(pair.substr(0, eq), pair.substr(eq + 1)).second) throw CLI::ValidationError("--database-map", "maps " + pair.substr(0, eq) + " twice");
    }
    return map;
}

void AddSelectionOptions(CLI::App* command, Selection& selection) {
    const auto pattern = CLI::Validator([](std::string& p) {
        try {
            CheckPattern(p);
            return std::string();
        } catch (const ToolError& e) {
            return std::string(e.what());
        }
    }, "DB/CONTAINER");
    command->add_option("--include", selection.include, "only containers matching this DB/CONTAINER glob (repeatable; * and ?)")
        ->check(pattern);
    command->add_option("--exclude", selection.exclude, "leave out containers matching this DB/CONTAINER glob (repeatable)")
        ->check(pattern);
}

// The program and the global options as given (before or after the command's name), for the
// command that continues an interrupted run.
std::vector<std::string> GlobalPrefix(const CLI::App& app, int argc, char** argv) {
    std::vector<std::string> prefix{argv[0]};
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const std::string name = argument.substr(0, argument.find('='));
        if (name.rfind("--", 0) != 0) continue;
        const CLI::Option* option = nullptr;
        for (const CLI::Option* candidate : app.get_options()) {
            if (candidate->check_lname(name.substr(2))) option = candidate;
        }
        if (option == nullptr) continue;
        prefix.push_back(argument);
        if (option->get_items_expected_max() > 0 && name.size() == argument.size() && i + 1 < argc) prefix.push_back(argv[++i]);
    }
    return prefix;
}

// The pacing options this run was given (they do not change what a run produces).
std::vector<std::string> Pacing(const GlobalOptions& global, int parallelism) {
    std::vector<std::string> pacing;
    if (parallelism > 0) pacing.insert(pacing.end(), {"--parallel", std::to_string(parallelism)});
    if (global.maxRu > 0) pacing.insert(pacing.end(), {"--max-ru", std::to_string(global.maxRu)});
    if (global.maxRetryWait != 120) pacing.insert(pacing.end(), {"--max-retry-wait", std::to_string(global.maxRetryWait)});
    return pacing;
}

// A backup of one container, of whichever kind (BackupPipeline.h), and how it ended.
Outcome RunBackupCommand(Connection& connection, const ConnectionOptions& connectionOptions, std::shared_ptr<BackupStore> store,
                         const BackupOptions& given, Progress& whole) {
    const BackupResult done = BackUp(connection, connectionOptions, store, given);
    whole.Finish();
    const IncrementSummary& s = done.summary;
    if (given.shard && s.backup.alreadyDone) {
        std::fprintf(stderr, "cosmos-backup: shard %s of %s is complete already; nothing to do\n", given.shard->Describe().c_str(),
                     given.directory.c_str());
    }
    const bool incrementRead = done.increment && !given.shard && !s.backup.alreadyComplete;
    if (incrementRead) return IncrementOutcome(s, given.directory);
    return BackupOutcome(s.backup, given.directory, done.increment ? "incremental" : "full");
}

// --shard, --shards and --finish, on backup and restore.
struct ShardOptions {
    std::string shard;  // "I/N" or "auto"
    int shards = 0;     // N for --shard auto under a Kubernetes Indexed Job
    bool finish = false;
};

void AddShardOptions(CLI::App* command, ShardOptions& options, const std::string& finishWhat) {
    auto* shard = command->add_option("--shard", options.shard,
                                      "run shard I of N (I/N, 0-based), or auto: from SLURM_ARRAY_TASK_ID/SLURM_ARRAY_TASK_COUNT "
                                      "or JOB_COMPLETION_INDEX with --shards");
    command->add_option("--shards", options.shards, "the shard count for --shard auto under a Kubernetes Indexed Job")
        ->check(CLI::Range(1, 9999));
    command->add_flag("--finish", options.finish, finishWhat)->excludes(shard);
}

std::optional<ShardSpec> ShardOf(const ShardOptions& options) {
    if (options.shard.empty()) {
        if (options.shards > 0) throw UsageError("--shards goes with --shard auto");
        return std::nullopt;
    }
    try {
        return ParseShard(options.shard, options.shards);
    } catch (const ToolError& e) {
        throw UsageError(e.what());  // a --shard the scheduler's environment cannot complete, or no I/N
    }
}

// The service takes throughput in steps (manual RU/s in hundreds, autoscale maxima in
// thousands): a value between them is refused here, before a database is created for it.
CLI::Validator MultipleOf(long long step) {
    return CLI::Validator(
        [step](std::string& value) {
            try {
                return std::stoll(value) % step == 0 ? std::string() : "must be a multiple of " + std::to_string(step);
            } catch (const std::exception&) {
                return std::string("is not a number");
            }
        },
        "multiple of " + std::to_string(step));
}

// A backup location: an existing directory, or a blob URL (checked when it is opened).
const CLI::Validator kExistingLocation(
    [](std::string& location) { return IsRemoteLocation(location) ? std::string() : CLI::ExistingDirectory(location); },
    "DIR|URL");

}  // namespace

int main(int argc, char** argv) {
    SecretMask secrets = SecretMask::Of(argc, argv);
    InstallInterruptHandlers();
    CLI::App app{"Back up, restore and verify Azure Cosmos DB containers, databases and whole accounts"};
    app.require_subcommand(1);
    app.fallthrough();  // global options after the command's name too (inherited by the commands added below)
    app.set_version_flag("--version", VersionText, "print the tool's version, commit and runtime, and exit");
    GlobalOptions global;
    app.add_option("--endpoint", global.connection.endpoint, "account endpoint URL")->envname("COSMOS_ENDPOINT");
    app.add_option("--key-env", global.key.envName, "environment variable holding the account key")
        ->capture_default_str();
    app.add_option("--key-file", global.key.filePath, "owner-only file holding the account key")
        ->check(CLI::ExistingFile);
    app.add_option("--password-file", global.passwordFile,
                   "owner-only file holding the password of encrypted backups (else COSMOS_BACKUP_PASSWORD_FILE, COSMOS_BACKUP_PASSWORD)")
        ->check(CLI::ExistingFile);
    app.add_flag("--insecure-skip-tls-verify", global.insecure,
                 "accept any server certificate (only for a local test server)");
    app.add_option("--proxy", global.connection.proxy, "HTTP proxy URL (http:// or https://)");
    app.add_option("--log", global.logFile, "file for the runtime's records (default: none unless --verbose)");
    app.add_flag("--verbose", global.verbose, "the runtime's records on standard error");
    app.add_option("--timeout-ms", global.connection.requestTimeoutMs, "timeout of one request in milliseconds")->capture_default_str();
    app.add_flag("--json", global.json, "summary as one JSON document on standard output, progress as JSON lines on standard error");
    app.add_flag("--quiet", global.quiet, "no progress lines (the summary and errors still)");
    app.add_flag("--allow-core-dumps", global.allowCoreDumps,
                 "let a crash leave a core file (it would hold the keys); also COSMOS_BACKUP_ALLOW_CORE_DUMPS=1");

    auto* listDatabases = app.add_subcommand("list-databases", "list the account's databases");
    std::string listDatabase;
    auto* listContainers = app.add_subcommand("list-containers", "list the containers of a database");
    listContainers->add_option("--database", listDatabase, "the database")->required();

    BackupOptions backup;
    AccountBackupOptions accountBackup;
    auto* backupCmd = app.add_subcommand("backup", "back up a container, a database or the whole account into a new location");
    // With --resume, database and container default to the interrupted backup's.
    ShardOptions backupShards;
    backupCmd->add_option("--database", backup.database, "the database (without --container: every container of it)");
    backupCmd->add_option("--container", backup.container, "the container");
    auto* allDatabases = backupCmd->add_flag("--all-databases", accountBackup.allDatabases, "every container of every database");
    allDatabases->excludes(backupCmd->get_option("--database"));
    AddSelectionOptions(backupCmd, accountBackup.selection);
    backupCmd->add_option("--out", backup.directory, "new or empty directory, or blob storage URL");
    backupCmd->add_option("--page-size", backup.pageSize, "items per read (default 1000)")->check(CLI::Range(1, 100000));
    backupCmd->add_option("--items-per-file", backup.itemsPerFile,
                          "items per data file, a file closes at the next page boundary (default 100000)")
        ->check(CLI::Range(1, 100000000));
    backupCmd->add_option("--parallel", backup.parallelism, "readers at once (ranges, or sub-ranges of them), of all containers of the run (default 4)")
        ->check(CLI::Range(1, 64));
    backupCmd->add_flag("--resume", backup.resume,
                        "go on with the interrupted backup in --out as it was begun (a new one when nothing was recorded yet)");
    backupCmd->add_option("--since", backup.since, "an incremental backup since this backup, the chain's last (directory or blob storage URL)")
        ->check(kExistingLocation);
    AddThrottlingOptions(backupCmd, global);
    AddShardOptions(backupCmd, backupShards, "put the finished shards in --out together into one backup (writes the manifest)");

    RestoreOptions restore;
    AccountRestoreOptions accountRestore;
    std::vector<std::string> restoreMap;
    auto* restoreCmd = app.add_subcommand("restore", "restore a backup (of a container or of many) into new containers");
    restoreCmd->add_option("--from", restore.directory, "backup directory or blob storage URL")->check(kExistingLocation);
    restoreCmd->add_option("--database", restore.database, "target database (default: the source's)");
    restoreCmd->add_option("--container", restore.container, "target container (default: the source's)");
    restoreCmd->add_option("--database-map", restoreMap, "restore database OLD of an account backup as NEW (OLD=NEW, repeatable)");
    AddSelectionOptions(restoreCmd, accountRestore.selection);
    restoreCmd->add_option("--parallel", restore.parallelism, "write requests in flight (of all containers of the run)")
        ->check(CLI::Range(1, 64))->capture_default_str();
    restoreCmd->add_flag("--into-existing", restore.intoExisting, "restore into containers that exist already");
    restoreCmd->add_flag("--resume", restore.resume, "go on with the interrupted restore of this backup into this target");
    restoreCmd->add_option("--failure-report", restore.failureReport,
                           "where the items the service refuses are listed: a directory or a file (default: the current directory)")
        ->capture_default_str();
    restoreCmd->add_option("--partition-key", restore.partitionKeys, "restore the items of this partition key (JSON; a shorter array: a prefix; repeatable)");
    restoreCmd->add_option("--ids", restore.idsFile, "restore the items named in FILE, one [id, partition key values...] per line");
    restoreCmd->add_flag("--replace-subset", restore.replaceSubset, "also delete the subset's items the backup does not hold (with --into-existing)");
    restoreCmd->add_flag("--dry-run", restore.dryRun, "print what a subset restore would write and delete; write nothing");
    AddThrottlingOptions(restoreCmd, global);
    ShardOptions restoreShards;
    AddShardOptions(restoreCmd, restoreShards, "after every shard of a sharded restore: check them, restore the scripts, count");
    auto* manual = restoreCmd->add_option("--throughput", restore.throughput, "give the container its own fixed RU/s (400 or more, in hundreds)")
                       ->check(CLI::Range(400, 1000000000) & MultipleOf(100));
    auto* autoscale = restoreCmd->add_option("--autoscale-max", restore.autoscaleMax,
                                             "give the container its own autoscale maximum RU/s (1000 or more, in thousands)")
                          ->check(CLI::Range(1000, 1000000000) & MultipleOf(1000));
    auto* none = restoreCmd->add_flag("--no-throughput", restore.noThroughput, "no throughput for database or container (serverless)");
    manual->excludes(autoscale)->excludes(none);
    autoscale->excludes(none);

    VerifyOptions verify;
    AccountVerifyOptions accountVerify;
    std::vector<std::string> verifyMap;
    auto* verifyCmd = app.add_subcommand("verify", "check a backup's files and compare it with the live containers");
    verifyCmd->add_option("--from", verify.directory, "backup directory or blob storage URL")->check(kExistingLocation);
    verifyCmd->add_option("--database", verify.database, "container's database (default: the source's)");
    verifyCmd->add_option("--container", verify.container, "container (default: the source's)");
    verifyCmd->add_option("--database-map", verifyMap, "compare database OLD of an account backup with NEW (OLD=NEW, repeatable)");
    AddSelectionOptions(verifyCmd, accountVerify.selection);
    verifyCmd->add_flag("--offline", verify.offline, "check the files only");
    verifyCmd->add_option("--partition-key", verify.partitionKeys, "compare only the items of this partition key (JSON; a shorter array: a prefix; repeatable)");
    verifyCmd->add_option("--max-problems", verify.maxProblems, "differences to list; the rest are counted")
        ->check(CLI::Range(1, 100000000))->capture_default_str();

    KeyCommandOptions keys;
    auto* keyCmd = app.add_subcommand("key", "list, add or remove the passwords (key slots) of an encrypted backup");
    keyCmd->require_subcommand(1);
    keyCmd->add_subcommand("list", "list the key slots: ids and key derivation parameters");
    keyCmd->add_subcommand("add", "add a key slot for the password in --new-password-file");
    keyCmd->add_subcommand("remove", "remove the key slot --slot (never the last)");
    keyCmd->add_subcommand("passwd", "add the password in --new-password-file, remove the slot the current password opens");
    keyCmd->add_option("--location", keys.location, "the encrypted backup: directory or blob storage URL")->check(kExistingLocation);
    keyCmd->add_option("--new-password-file", keys.newPasswordFile, "owner-only file holding the new password (add, passwd)")
        ->check(CLI::ExistingFile);
    keyCmd->add_option("--slot", keys.slot, "the key slot to remove (its id, as key list shows it)");

    RepositoryOptions repository;
    AddRepositoryOptions(backupCmd, restoreCmd, verifyCmd, keyCmd, repository);
    RepositoryCommands repositoryCommands;
    AddRepositoryCommands(app, repositoryCommands);

    try {
        CheckCommandLine(app, argc, argv);
        app.parse(argc, argv);
        accountRestore.databaseMap = ParseDatabaseMap(restoreMap);
        accountVerify.databaseMap = ParseDatabaseMap(verifyMap);
        repository.finish = backupCmd->parsed() && backupShards.finish;
        if (backupCmd->parsed() && !backupShards.finish) RequireOneLocation(repository, backup.directory, "--out");
        if (restoreCmd->parsed()) RequireOneLocation(repository, restore.directory, "--from");
        if (verifyCmd->parsed()) RequireOneLocation(repository, verify.directory, "--from");
        if (keyCmd->parsed()) RequireOneLocation(repository, keys.location, "--location");
    } catch (const CLI::Success& e) {
        return app.exit(e);  // --help, --version
    } catch (const CLI::ParseError& e) {
        std::string message = e.what();
        std::replace(message.begin(), message.end(), '\n', ' ');
        return PrintFailure(CommandName(app, argc, argv), secrets.Hide(message), kExitUsage, AsksForJson(argc, argv));
    } catch (const UsageError& e) {
        return PrintFailure(CommandName(app, argc, argv), secrets.Hide(e.what()), kExitUsage, AsksForJson(argc, argv));
    }
    const std::string command = CommandName(app, argc, argv);
    const auto finish = [&](Outcome outcome) {
        outcome.report.resumeCommand = secrets.Hide(outcome.report.resumeCommand);
        for (auto& container : outcome.report.containers) container.error = secrets.Hide(container.error);
        return PrintOutcome(outcome, global.json);
    };
    const auto style = global.quiet ? Progress::Style::kQuiet : global.json ? Progress::Style::kJsonLines : Progress::Style::kText;
    const std::vector<std::string> given(argv, argv + argc);
    backup.rerun = RerunCommand(GlobalPrefix(app, argc, argv), Pacing(global, backup.parallelism), given);
    auto restorePacing = Pacing(global, restoreCmd->count("--parallel") > 0 ? restore.parallelism : 0);
    if (restoreCmd->count("--failure-report") > 0) restorePacing.insert(restorePacing.end(), {"--failure-report", restore.failureReport});
    restore.rerun = RerunCommand(GlobalPrefix(app, argc, argv), restorePacing, given);
    restore.endpoint = global.connection.endpoint;
    verify.endpoint = global.connection.endpoint;

    try {
        // Before the runtime starts, and before any secret is read.
        if (!global.allowCoreDumps && !CoreDumpsAskedForByEnvironment()) KeepSecretsOutOfCrashReports();
        StoreOptions storage = CheckLocations(global, {backup.directory, backup.since, restore.directory, verify.directory, keys.location});
        const std::string password = ReadBackupPassword(global.passwordFile);
        if (!password.empty()) {
            secrets.Add(password);
            storage.password = std::make_shared<const StorePassword>(password);
        }
        if (repositoryCommands.Parsed()) return RunRepositoryCommand(repositoryCommands, storage, global.json);
        backup.shard = ShardOf(backupShards);
        // A repository chooses the backup's location (a backup also its parent, under its source's lock).
        const auto repositoryRun = backupCmd->parsed() ? BeginRepositoryBackup(repository, backup, backup.container.empty(),
                                                                               global.connection.endpoint, COSMOS_BACKUP_VERSION, storage)
                                                       : nullptr;
        if (restoreCmd->parsed() || verifyCmd->parsed()) ChooseRepositoryBackup(repository, restoreCmd->parsed() ? restore.directory : verify.directory, storage, global.json);
        if (keyCmd->parsed() && keys.location.empty()) keys.location = repository.repo;
        backup.storage = restore.storage = verify.storage = storage;
        if (keyCmd->parsed()) {
            keys.action = keyCmd->get_subcommands().front()->get_name();
            return RunKeyCommand(keys, storage);
        }
        RouteRuntimeRecords(global);
        restore.shard = ShardOf(restoreShards);
        restore.finish = restoreShards.finish;
        // The command's backup location, opened once here and handed down (lists need none).
        const std::string& where = backupCmd->parsed() ? backup.directory : restoreCmd->parsed() ? restore.directory : verify.directory;
        const std::shared_ptr<BackupStore> location = where.empty() ? nullptr : OpenBackupStore(where, storage);
        // A chain's links name each other by relative paths: checked before anything is created.
        if (backupCmd->parsed() && !backup.since.empty()) RelativeLocation(backup.since, backup.directory);
        // The parent, opened once here and handed down: an encrypted one refuses a missing or
        // wrong password before any request.
        if (backupCmd->parsed() && !backup.since.empty()) backup.sinceStore = OpenBackupStore(backup.since, storage);
        // A backup run holds its location's lock (a shard its shard's, finish the whole run's)
        // from here to its end, before it reads any record there; a restore takes its target's.
        const WriterLocks held = backupCmd->parsed() ? LockBackup(location, backup.shard, backupShards.finish) : WriterLocks();
        backup.locks = &held;
        // Finishing a sharded backup needs its location only: the shards' records name the source.
        if (backupCmd->parsed() && backupShards.finish) {
            auto outcome = IsAccountBackup(*location) ? Of(FinishShardedAccountBackup(location, backup.directory, storage, style, &held, backup.rerun))
                                                      : IncrementOutcome(FinishShardedBackup(location, backup.directory, storage, &held), backup.directory, true);
            if (repositoryRun) repositoryRun->Finish(outcome.report);
            return finish(outcome);
        }
        const bool manyContainers = (backupCmd->parsed() && backup.container.empty() &&
                                     (accountBackup.allDatabases || !backup.database.empty() ||
                                      (backup.resume && IsAccountBackup(*location))));
        const bool selecting = !accountBackup.selection.include.empty() || !accountBackup.selection.exclude.empty();
        if (backupCmd->parsed() && !manyContainers && selecting) {
            throw UsageError("--include and --exclude select among many containers: give --all-databases or --database without --container");
        }
        // A new backup's source is named before the first request.
        if (backupCmd->parsed() && !manyContainers && !backup.resume) NameBackupSource(backup);
        const bool accountRestoreRun = restoreCmd->parsed() && IsAccountBackup(*location);
        const bool accountVerifyRun = verifyCmd->parsed() && IsAccountBackup(*location);
        if (accountRestoreRun && (restore.shard || restore.finish)) {
            throw UsageError("a sharded restore takes the backup of one container; an account backup is restored by one process");
        }
        CheckSubsetOptions(restore, verify, accountRestoreRun || accountVerifyRun);
        if ((accountRestoreRun && (!restore.database.empty() || !restore.container.empty())) ||
            (accountVerifyRun && (!verify.database.empty() || !verify.container.empty()))) {
            throw UsageError("an account backup takes --include/--exclude and --database-map, not --database or --container");
        }
        if (verifyCmd->parsed() && verify.offline) {
            if (accountVerifyRun) {
                accountVerify.single = verify;
                accountVerify.progressStyle = style;
                return finish(Of(RunAccountVerify(nullptr, location, accountVerify)));
            }
            const auto started = std::chrono::steady_clock::now();
            const auto s = VerifyBackup(nullptr, location, verify);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            return finish(VerifyOutcome(s, verify.directory, true, seconds));
        }
        // A restore lists the items the service refuses instead of stopping at the first, in a
        // report that must be writable before anything is created (a resumed one appends to its own).
        if (restoreCmd->parsed()) global.connection.clientOptions = "itemFailures=report";
        if (restoreCmd->parsed() && !restore.resume) FailureReport(restore.failureReport, "", "", 0).CheckWritable();
        auto connection = Connect(global);
        restore.connection = global.connection;  // the key-only readers' own bridge objects
        if (listDatabases->parsed()) PrintList(connection->Databases(), global.json);
        else if (listContainers->parsed()) PrintList(connection->Containers(listDatabase), global.json);
        else if (manyContainers) {
            accountBackup.single = backup;
            accountBackup.database = backup.database;
            accountBackup.progressStyle = style;
            const auto report = RunAccountBackup(*connection, global.connection, location, accountBackup);
            if (repositoryRun) repositoryRun->Finish(report);
            return finish(Of(report));
        } else if (backupCmd->parsed()) {
            Progress whole("backup", 0, style);
            backup.progress = &whole;
            const auto outcome = RunBackupCommand(*connection, global.connection, location, backup, whole);
            if (repositoryRun) repositoryRun->Finish(outcome.report);
            return finish(outcome);
        } else if (accountRestoreRun) {
            accountRestore.single = restore;
            accountRestore.progressStyle = style;
            return finish(Of(RunAccountRestore(*connection, global.connection, location, accountRestore)));
        } else if (restoreCmd->parsed()) {
            Progress whole("restore", 0, style);
            restore.progress = &whole;
            const auto s = RestoreBackup(*connection, location, restore);
            whole.Finish();
            return finish(RestoreOutcome(s, restore.directory));
        } else if (accountVerifyRun) {
            accountVerify.single = verify;
            accountVerify.progressStyle = style;
            return finish(Of(RunAccountVerify(&global.connection, location, accountVerify)));
        } else if (verifyCmd->parsed()) {
            Progress whole("verify", 0, style);
            verify.progress = &whole;
            const auto s = VerifyBackup(connection.get(), location, verify);
            const double seconds = whole.Finish();
            return finish(VerifyOutcome(s, verify.directory, false, seconds));
        }
        return 0;
    } catch (const UsageError& e) {
        return PrintFailure(command, secrets.Hide(e.what()), kExitUsage, global.json);
    } catch (const std::exception& e) {
        return PrintFailure(command, secrets.Hide(e.what()), kExitFailed, global.json);
    }
}
