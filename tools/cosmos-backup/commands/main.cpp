// cosmos-backup: lists, backs up, restores and verifies Azure Cosmos DB containers through
// libCloudSDKCppBridge. The account key comes from an environment variable or a file only.
#include "commands/BackupCommand.h"
#include "commands/IncrementCommand.h"
#include "commands/RestoreCommand.h"
#include "commands/VerifyCommand.h"
#include "service/Connection.h"
#include "storage/OpenBackupStore.h"
#include "support/CrashReports.h"
#include "support/RerunCommand.h"
#include "support/Secrets.h"
#include "support/ToolError.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace cosmosbackup;

namespace {

struct GlobalOptions {
    ConnectionOptions connection;
    KeySource key;
    bool insecure = false;
    std::string logFile;
    bool verbose = false;
    long long maxRu = 0;           // RU/s for the whole run, 0 = no budget
    long long maxRetryWait = 120;  // seconds one request may wait for throttling to pass
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
    return StoreOptions{proxy, std::chrono::seconds(global.maxRetryWait)};
}

// Exit status of a restore that wrote everything but the items in its failure report.
constexpr int kSomeItemsFailed = 3;

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
    if (global.connection.endpoint.empty()) throw ToolError("no endpoint: pass --endpoint or set COSMOS_ENDPOINT");
    global.connection.key = ReadAccountKey(global.key);
    global.connection.verifyTls = !global.insecure;
    global.connection.clientOptions = ThrottlingOptions(global.maxRu, global.maxRetryWait) +
                                      (global.connection.clientOptions.empty() ? "" : ";" + global.connection.clientOptions);
    return std::make_unique<Connection>(global.connection);
}

void PrintList(const std::vector<std::string>& names) {
    for (const auto& name : names) std::cout << name << '\n';
}

void PrintBackup(const BackupSummary& s, const BackupOptions& o) {
    if (s.alreadyComplete) {
        std::printf("backup of %s in %s is complete: %lld items, %d data files; nothing to resume\n", s.source.c_str(),
                    o.directory.c_str(), static_cast<long long>(s.items), s.files);
        return;
    }
    std::printf("backup of %s: %lld items, %d scripts, %d data files, %lld bytes in %.2f s (%.0f items/s); throughput: %s -> %s\n",
                s.source.c_str(), static_cast<long long>(s.items), s.scripts, s.files,
                static_cast<long long>(s.bytes), s.seconds, s.seconds > 0 ? s.items / s.seconds : 0.0,
                DescribeLayout(s.layout).c_str(), o.directory.c_str());
    std::printf("requests: %s\n", DescribeUsage(s.usage, s.seconds).c_str());
    if (s.items != s.countedBefore) {
        std::fprintf(stderr, "note: the container held %lld items when the backup began; it changed meanwhile\n",
                     static_cast<long long>(s.countedBefore));
    }
}

void PrintIncrement(const IncrementSummary& s, const BackupOptions& o) {
    PrintBackup(s.backup, o);
    std::printf("increment %d of its chain: %lld changed items, %lld deleted, %lld items in all; key-only read: %lld requests, %.2f RU\n",
                s.chainLength, static_cast<long long>(s.backup.items), static_cast<long long>(s.deletions),
                static_cast<long long>(s.keys), static_cast<long long>(s.keyRead.requests), s.keyRead.requestCharge);
}

int PrintRestore(const RestoreSummary& s) {
    std::printf("restore into %s/%s: %lld items written, %lld counted, %d scripts in %.2f s (%.0f items/s); throughput: %s\n",
                s.database.c_str(), s.container.c_str(), static_cast<long long>(s.items),
                static_cast<long long>(s.counted), s.scripts, s.seconds, s.seconds > 0 ? s.items / s.seconds : 0.0,
                DescribeLayout(s.layout).c_str());
    std::printf("requests: %s\n", DescribeUsage(s.usage, s.seconds).c_str());
    if (s.skipped > 0) std::printf("resumed: %lld items had been written before\n", static_cast<long long>(s.skipped));
    if (s.links > 1) std::printf("chain: %d backups restored, %lld deletions applied\n", s.links, static_cast<long long>(s.deleted));
    if (s.failed == 0) return 0;
    std::fprintf(stderr, "cosmos-backup: %lld items could not be written; they are listed with the reasons in %s\n",
                 static_cast<long long>(s.failed), s.reportPath.c_str());
    return kSomeItemsFailed;
}

int PrintVerify(const VerifySummary& s, bool offline) {
    for (const auto& p : s.problems) std::fprintf(stderr, "verify: %s\n", p.c_str());
    if (offline) {
        std::printf("verify: %lld items in the backup, files intact, %lld problems\n",
                    static_cast<long long>(s.backupItems), static_cast<long long>(s.problemCount));
    } else {
        std::printf("verify: %lld items in the backup, %lld in the container, %lld equal, %lld problems\n",
                    static_cast<long long>(s.backupItems), static_cast<long long>(s.liveItems),
                    static_cast<long long>(s.equalItems), static_cast<long long>(s.problemCount));
    }
    return s.problemCount == 0 ? 0 : 2;
}

// The program and the global options as given (everything before the command's name), for the
// command that continues an interrupted run.
std::vector<std::string> GlobalPrefix(int argc, char** argv, const std::string& command) {
    static const std::set<std::string> kTakesValue = {"--endpoint", "--key-env", "--key-file", "--proxy", "--log", "--timeout-ms"};
    std::vector<std::string> prefix{argv[0]};
    for (int i = 1; i < argc && command != argv[i]; ++i) {
        prefix.push_back(argv[i]);
        if (kTakesValue.count(argv[i]) > 0 && i + 1 < argc) prefix.push_back(argv[++i]);
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

// A backup or an increment: a resumed one is what its location's record says.
void RunBackupCommand(Connection& connection, const ConnectionOptions& connectionOptions, const BackupOptions& given) {
    const auto store = OpenBackupStore(given.directory, given.storage);
    const BackupStart start = StartBackup(*store, given, connectionOptions.endpoint);
    if (start.complete) PrintBackup(CompletedBackup(*store), start.options);
    else if (start.IsIncrement()) PrintIncrement(RunIncrementalBackup(connection, connectionOptions, *store, start), start.options);
    else PrintBackup(RunBackup(connection, connectionOptions, *store, start), start.options);
}

// A backup location: an existing directory, or a blob URL (checked when it is opened).
const CLI::Validator kExistingLocation(
    [](std::string& location) { return IsRemoteLocation(location) ? std::string() : CLI::ExistingDirectory(location); },
    "DIR|URL");

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Back up, restore and verify Azure Cosmos DB containers"};
    app.require_subcommand(1);
    GlobalOptions global;
    app.add_option("--endpoint", global.connection.endpoint, "account endpoint URL")->envname("COSMOS_ENDPOINT");
    app.add_option("--key-env", global.key.envName, "environment variable holding the account key")
        ->capture_default_str();
    app.add_option("--key-file", global.key.filePath, "owner-only file holding the account key")
        ->check(CLI::ExistingFile);
    app.add_flag("--insecure-skip-tls-verify", global.insecure,
                 "accept any server certificate (only for a local test server)");
    app.add_option("--proxy", global.connection.proxy, "HTTP proxy URL (http:// or https://)");
    app.add_option("--log", global.logFile, "file for the runtime's records (default: none unless --verbose)");
    app.add_flag("--verbose", global.verbose, "the runtime's records on standard error");
    app.add_option("--timeout-ms", global.connection.requestTimeoutMs, "timeout of one request")->capture_default_str();
    app.add_flag("--allow-core-dumps", global.allowCoreDumps,
                 "let a crash leave a core file (it would hold the keys); also COSMOS_BACKUP_ALLOW_CORE_DUMPS=1");

    auto* listDatabases = app.add_subcommand("list-databases", "list the account's databases");
    std::string listDatabase;
    auto* listContainers = app.add_subcommand("list-containers", "list the containers of a database");
    listContainers->add_option("--database", listDatabase)->required();

    BackupOptions backup;
    auto* backupCmd = app.add_subcommand("backup", "back up a container into a new directory");
    // With --resume, database and container default to the interrupted backup's.
    backupCmd->add_option("--database", backup.database);
    backupCmd->add_option("--container", backup.container);
    backupCmd->add_option("--out", backup.directory, "new or empty directory, or blob storage URL")->required();
    backupCmd->add_option("--page-size", backup.pageSize, "items per read (default 1000)")->check(CLI::Range(1, 100000));
    backupCmd->add_option("--items-per-file", backup.itemsPerFile, "items per data file (default 100000)")->check(CLI::Range(1, 100000000));
    backupCmd->add_option("--parallel", backup.parallelism, "partition key ranges read at once (default 4)")->check(CLI::Range(1, 64));
    backupCmd->add_flag("--resume", backup.resume,
                        "go on with the interrupted backup in --out as it was begun (a new one when nothing was recorded yet)");
    backupCmd->add_option("--since", backup.since, "an incremental backup since this backup, the chain's last (directory or blob storage URL)")
        ->check(kExistingLocation);
    AddThrottlingOptions(backupCmd, global);

    RestoreOptions restore;
    auto* restoreCmd = app.add_subcommand("restore", "restore a backup into a new container");
    restoreCmd->add_option("--from", restore.directory, "backup directory or blob storage URL")->required()->check(kExistingLocation);
    restoreCmd->add_option("--database", restore.database, "target database (default: the source's)");
    restoreCmd->add_option("--container", restore.container, "target container (default: the source's)");
    restoreCmd->add_option("--parallel", restore.parallelism, "write requests in flight")->check(CLI::Range(1, 64))->capture_default_str();
    restoreCmd->add_flag("--into-existing", restore.intoExisting, "restore into a container that exists already");
    restoreCmd->add_flag("--resume", restore.resume, "go on with the interrupted restore of this backup into this target");
    AddThrottlingOptions(restoreCmd, global);
    auto* manual = restoreCmd->add_option("--throughput", restore.throughput, "give the container its own fixed RU/s")
                       ->check(CLI::Range(400, 1000000000));
    auto* autoscale = restoreCmd->add_option("--autoscale-max", restore.autoscaleMax, "give the container its own autoscale maximum RU/s")
                          ->check(CLI::Range(1000, 1000000000));
    auto* none = restoreCmd->add_flag("--no-throughput", restore.noThroughput, "no throughput for database or container (serverless)");
    manual->excludes(autoscale)->excludes(none);
    autoscale->excludes(none);

    VerifyOptions verify;
    auto* verifyCmd = app.add_subcommand("verify", "check a backup's files and compare it with a live container");
    verifyCmd->add_option("--from", verify.directory, "backup directory or blob storage URL")->required()->check(kExistingLocation);
    verifyCmd->add_option("--database", verify.database, "container's database (default: the source's)");
    verifyCmd->add_option("--container", verify.container, "container (default: the source's)");
    verifyCmd->add_flag("--offline", verify.offline, "check the files only");

    CLI11_PARSE(app, argc, argv);
    backup.rerun = RerunCommand(GlobalPrefix(argc, argv, "backup"), Pacing(global, backup.parallelism));
    restore.rerun = RerunCommand(GlobalPrefix(argc, argv, "restore"), Pacing(global, restoreCmd->count("--parallel") > 0 ? restore.parallelism : 0));
    restore.endpoint = global.connection.endpoint;
    verify.endpoint = global.connection.endpoint;

    try {
        // Before the runtime starts, and before any secret is read.
        if (!global.allowCoreDumps && !CoreDumpsAskedForByEnvironment()) KeepSecretsOutOfCrashReports();
        const StoreOptions storage = CheckLocations(global, {backup.directory, backup.since, restore.directory, verify.directory});
        backup.storage = restore.storage = verify.storage = storage;
        RouteRuntimeRecords(global);
        if (verifyCmd->parsed() && verify.offline) return PrintVerify(RunVerify(nullptr, verify), true);
        // A restore lists the items the service refuses instead of stopping at the first.
        if (restoreCmd->parsed()) global.connection.clientOptions = "itemFailures=report";
        auto connection = Connect(global);
        if (listDatabases->parsed()) PrintList(connection->Databases());
        else if (listContainers->parsed()) PrintList(connection->Containers(listDatabase));
        else if (backupCmd->parsed()) RunBackupCommand(*connection, global.connection, backup);
        else if (restoreCmd->parsed()) return PrintRestore(RunRestore(*connection, restore));
        else if (verifyCmd->parsed()) return PrintVerify(RunVerify(connection.get(), verify), false);
        return 0;
    } catch (const ToolError& e) {
        std::fprintf(stderr, "cosmos-backup: error: %s\n", e.what());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cosmos-backup: error: %s\n", e.what());
        return 1;
    }
}
