#include "commands/RestoreCommand.h"

#include "chain/ChainRecord.h"
#include "commands/ChainRestoreCommand.h"
#include "format/DataFiles.h"
#include "format/FileShares.h"
#include "format/RestoreProgress.h"
#include "format/RestoreTarget.h"
#include "format/LocationLayout.h"
#include "format/WriterLock.h"
#include "service/ContainerDefinition.h"
#include "service/RestoreWrite.h"
#include "storage/OpenBackupStore.h"
#include "support/ToolError.h"

#include <algorithm>
#include <map>
#include <set>
#include <cstdio>
#include <functional>
#include <vector>

namespace cosmosbackup {
namespace {

// What the target container is after it was created or found: its definition and layout.
struct TargetState {
    nlohmann::json definition;
    ThroughputLayout layout;
    std::string rid;  // the service's resource id of the container
};

TargetState ReadTarget(Connection& connection, const std::string& target) {
    const auto j = connection.ContainerInfo(target);
    TargetState state;
    state.definition = j["container"];
    j["throughput"].get_to(state.layout);
    state.rid = j.value("rid", std::string());
    return state;
}

// The service's serverless refusal says what to do about it.
void RequireCreated(Connection& connection, bool ok, const std::string& what) {
    if (ok) return;
    const std::string why = connection.bridge().GetLastErrorString();
    if (why.find("serverless accounts") != std::string::npos) {
        throw ToolError(what + ": " + why + " (the target account is serverless: restore with --no-throughput)");
    }
    connection.Require(false, what);
}

bool SameLayout(const ThroughputLayout& a, const ThroughputLayout& b) {
    return a.scope == b.scope && a.manual == b.manual && a.autoscaleMax == b.autoscaleMax;
}

// A new container must have every property of the backup and the layout asked for.
void CheckCreated(const Manifest& manifest, const ThroughputLayout& wanted, const TargetState& state, const std::string& target) {
    if (manifest.container.is_object()) {
        const auto lost = LostProperties(manifest.container, state.definition);
        if (!lost.empty()) {
            std::string list;
            for (const auto& l : lost) list += "\n  " + l;
            throw ToolError(target + " was created without properties of the backup; nothing was restored into it:" + list);
        }
    }
    if (SameLayout(wanted, state.layout)) return;
    if (wanted.scope == ThroughputLayout::kNone) {
        // A provisioned account gives every container some throughput.
        std::fprintf(stderr, "note: %s took %s from the account\n", target.c_str(), DescribeLayout(state.layout).c_str());
    } else if (wanted.scope == ThroughputLayout::kShared && state.layout.scope == ThroughputLayout::kShared) {
        // A database that existed already keeps its own shared throughput.
        std::fprintf(stderr, "note: %s uses %s; the backup's database had %s\n", target.c_str(),
                     DescribeLayout(state.layout).c_str(), DescribeLayout(wanted).c_str());
    } else {
        throw ToolError(target + " has " + DescribeLayout(state.layout) + ", the restore asked for " + DescribeLayout(wanted) +
                        " (an existing database keeps its own throughput: restore into a new database, or choose "
                        "with --throughput, --autoscale-max or --no-throughput); nothing was restored into it");
    }
}

// An existing container is only written into when it keys items as the backup did.
void CheckExisting(const Manifest& manifest, const TargetState& state, const std::string& target) {
    const auto& theirs = state.definition.value("partitionKey", nlohmann::json::object());
    if (!SamePartitionKey(manifest.partitionKey, theirs)) {
        throw ToolError(target + " is keyed by " + theirs.dump() + ", the backup by " + manifest.partitionKey.dump() +
                        "; nothing was restored into it");
    }
    if (manifest.container.is_object()) {
        for (const auto& l : LostProperties(manifest.container, state.definition)) {
            std::fprintf(stderr, "note: %s differs from the backup: %s\n", target.c_str(), l.c_str());
        }
    }
}

// `beforeCreating` runs once the target may be created (it is new, or may be written into).
// Shards create the target at once: whichever comes first creates it (the wrapper takes an
// existing one as created), and each then holds it to the backup's definition and layout, as
// a container it had created itself; --into-existing relaxes that as for any restore.
TargetState CreateTarget(Connection& connection, const Manifest& manifest, const RestoreOptions& options,
                         const RestoreSummary& target, const std::function<void()>& beforeCreating, bool sharded = false) {
    auto& bridge = connection.bridge();
    const ThroughputLayout layout = TargetLayout(manifest, options);
    const bool shared = layout.scope == ThroughputLayout::kShared;
    const std::string name = target.database + "/" + target.container;
    const bool existed = ContainerExists(connection, target.database, target.container);
    if (existed && !options.intoExisting && !sharded) {
        throw ToolError("cannot create container " + name + ": it exists (use --into-existing to restore into an existing one)");
    }
    beforeCreating();
    RequireCreated(connection,
                   bridge.CreateCosmosDBDatabase("", target.database, false, "", shared ? layout.manual : 0,
                                                 shared ? layout.autoscaleMax : 0, false),
                   "cannot create database " + target.database);
    CloudSDKCppBridge::CosmosDBThroughput throughput{};
    // The wrapper takes an autoscale maximum as a negative throughput.
    if (layout.scope == ThroughputLayout::kOwn) throughput.nValue1 = layout.autoscaleMax > 0 ? -layout.autoscaleMax : layout.manual;
    throughput.nValue2 = manifest.defaultTtl;
    // A version 2 backup gives the whole definition (the wrapper recognises it by its
    // partition key); a version 1 backup its indexing policy only.
    const bool whole = manifest.container.is_object();
    RequireCreated(connection,
                   bridge.CreateCosmosDBContainer("", target.database, false, target.container,
                                                  whole ? std::string() : manifest.partitionKey.dump(),
                                                  whole ? manifest.container.dump() : manifest.indexingPolicy.dump(),
                                                  throughput, true),
                   "cannot create container " + name);
    const TargetState state = ReadTarget(connection, name);
    if (existed && (options.intoExisting || !sharded)) CheckExisting(manifest, state, name);
    else CheckCreated(manifest, layout, state, name);
    return state;
}

std::string ShardCountText(int shards) {
    return shards == 0 ? std::string("by one process (without --shard)") : "in " + std::to_string(shards) + " shards (run them as --shard I/" +
                                                                              std::to_string(shards) + ")";
}

// The restore run's first record (RestoreTarget.h), claimed before the target is created: a new
// run refuses a container that exists unless --into-existing says so (every shard alike), and a
// run recorded with another shard count is refused at once. `continuing`: an interrupted run of
// this restore goes on (a record of an older version may not name its target).
RestoreTarget ClaimTarget(Connection& connection, BackupStore& store, const Manifest& manifest, const RestoreOptions& options,
                          const std::string& target, bool continuing) {
    RestoreTarget mine{options.endpoint, options.runKey.empty() ? target : options.runKey, manifest.createdAt, "",
                       options.shard ? options.shard->count : 0};
    const auto dot = target.find('/');
    const bool existed = ContainerExists(connection, target.substr(0, dot), target.substr(dot + 1));
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto recorded = ReadRestoreTarget(store, mine);
        if (recorded && recorded->shards != mine.shards) {
            throw ToolError("the restore of this backup into " + target + " was begun " + ShardCountText(recorded->shards) +
                            ", not " + ShardCountText(mine.shards) + "; nothing was written");
        }
        const bool startsOver = options.intoExisting && !options.resume && !options.shard;
        if (recorded && !startsOver) return *recorded;
        if (existed && !options.intoExisting && !continuing) {
            throw ToolError("cannot create container " + target + ": it exists (use --into-existing to restore into an existing one)");
        }
        // Started over into an existing container: that one is the run's (a new run names the one
        // it creates once it has, ConfirmTarget).
        if (existed && startsOver) {
            connection.Require(connection.bridge().OpenCosmosDBContainer("", target.substr(0, dot), false, target.substr(dot + 1), ""),
                               "cannot open " + target);
            mine.rid = ReadTarget(connection, target).rid;
        }
        try {
            if (startsOver) WriteRestoreTarget(store, mine);
            else if (!ClaimRestoreTarget(store, mine)) continue;  // another shard claimed it first: take its record
        } catch (const ToolError& e) {
            // A location that cannot take records (read-only media) restores by one process.
            if (options.shard) throw;
            std::fprintf(stderr, "note: the restore's target cannot be recorded (%s)\n", e.what());
        }
        return mine;
    }
    throw ToolError("the restore target record in " + store.Describe() + " vanished while it was read");
}

// A run writes only into the container its first record names; the run that created it names it now.
void ConfirmTarget(BackupStore& store, RestoreTarget claim, const std::string& rid, const std::string& target) {
    if (claim.rid.empty()) {
        RestoreTarget named = claim;
        named.rid = rid;
        try {
            if (NameRestoreTarget(store, named)) return;
        } catch (const ToolError&) {
            return;  // read-only media: noted when the target was claimed
        }
        // Another step of the run named it first (a shard that began at the same time).
        if (const auto recorded = ReadRestoreTarget(store, claim)) claim.rid = recorded->rid;
    }
    if (claim.rid != rid) {
        throw ToolError(target + " is not the container this restore created (its _rid is " + rid + ", the restore created " + claim.rid +
                        "); nothing was written into it (use --into-existing to restore into it)");
    }
}


Manifest ShareOf(const Manifest& whole, const ShardSpec& shard) {
    Manifest share = whole;
    share.files = ShareOfFiles(whole.files, shard.index, shard.count);
    share.itemCount = 0;
    for (const auto& f : share.files) share.itemCount += f.items;
    return share;
}

std::string ShardKey(const RestoreSummary& target, const ShardSpec& shard) {
    return target.database + "/" + target.container + " shard " + shard.Describe();
}

std::string JoinTexts(const std::vector<std::string>& texts, const std::string& separator) {
    std::string joined;
    for (const auto& t : texts) joined += (joined.empty() ? "" : separator) + t;
    return joined;
}

// The session tokens of several shards' writes, as one list.
std::string JoinTokens(const std::vector<RestoreProgress>& shards) {
    std::set<std::string> tokens;
    for (const auto& s : shards) {
        std::size_t from = 0;
        while (from <= s.sessionToken.size()) {
            const auto comma = s.sessionToken.find(',', from);
            const auto token = s.sessionToken.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
            if (!token.empty()) tokens.insert(token);
            if (comma == std::string::npos) break;
            from = comma + 1;
        }
    }
    std::string joined;
    for (const auto& t : tokens) joined += (joined.empty() ? "" : ",") + t;
    return joined;
}

// Every shard of the restore of this backup into the target, checked done; throws naming the
// shards that are missing or unfinished.
std::vector<RestoreProgress> FinishedShards(const BackupStore& store, const Manifest& manifest, const std::string& target) {
    const std::string prefix = target + " shard ";
    std::map<int, RestoreProgress> shards;
    int count = 0;
    std::vector<std::string> problems;
    for (auto& record : ReadAllRestoreProgress(store)) {
        if (record.target.rfind(prefix, 0) != 0 || record.backupCreatedAt != manifest.createdAt) continue;
        const auto parsed = ParseShard(record.target.substr(prefix.size()), 0);
        if (count != 0 && parsed.count != count) {
            problems.push_back("shard records of " + std::to_string(count) + " and of " + std::to_string(parsed.count) + " shards");
        }
        count = std::max(count, parsed.count);
        shards[parsed.index] = std::move(record);
    }
    if (count == 0) throw ToolError("no shard of a restore of this backup into " + target + " is recorded in " + store.Describe());
    std::vector<std::string> missing;
    std::vector<RestoreProgress> done;
    for (int i = 0; i < count; ++i) {
        const auto found = shards.find(i);
        if (found == shards.end()) missing.push_back(std::to_string(i) + " (never ran)");
        else if (!found->second.finished) missing.push_back(std::to_string(i) + " (unfinished: run its command again)");
        else done.push_back(found->second);
    }
    if (!missing.empty()) problems.push_back("shards of " + std::to_string(count) + " not done: " + JoinTexts(missing, ", "));
    if (!problems.empty()) throw ToolError("cannot finish the restore into " + target + ": " + JoinTexts(problems, "; "));
    return done;
}

// After every shard: the scripts, the count, and the target's own progress record (so that
// verify reads with the shards' session tokens).
RestoreSummary FinishShardedRestore(Connection& connection, BackupStore& store, const Manifest& manifest, const RestoreOptions& options) {
    RestoreSummary summary;
    summary.database = options.database.empty() ? manifest.sourceDatabase : options.database;
    summary.container = options.container.empty() ? manifest.sourceContainer : options.container;
    const std::string target = summary.database + "/" + summary.container;
    const auto shards = FinishedShards(store, manifest, target);
    RestoreProgress whole;
    whole.endpoint = options.endpoint;
    whole.created = true;
    whole.target = target;
    whole.backupCreatedAt = manifest.createdAt;
    whole.filesDone = manifest.files.size();
    for (const auto& s : shards) whole.itemsDone += s.itemsDone;
    whole.sessionToken = JoinTokens(shards);
    whole.finished = true;

    auto& bridge = connection.bridge();
    connection.Require(bridge.OpenCosmosDBContainer("", summary.database, false, summary.container,
                                                    whole.sessionToken.empty() ? "" : ";sessionToken=" + whole.sessionToken),
                       "cannot open " + target);
    const TargetState state = ReadTarget(connection, target);
    summary.layout = state.layout;
    RestoreTarget run{options.endpoint, target, manifest.createdAt, "", static_cast<int>(shards.size())};
    if (const auto claim = ReadRestoreTarget(store, run)) ConfirmTarget(store, *claim, state.rid, target);
    if (manifest.scriptCount > 0) {
        connection.Require(bridge.RestoreAttachedScripts(manifest.scripts.dump(), true), "cannot restore the scripts of " + target);
    }
    summary.scripts = manifest.scriptCount;
    connection.Require(bridge.CountItems(summary.counted), "cannot count the items of " + target);
    if (summary.counted != manifest.itemCount) {
        throw ToolError(target + " holds " + std::to_string(summary.counted) + " items after the restore's shards; the backup has " +
                        std::to_string(manifest.itemCount) + " (items a shard could not write are in its failure report)");
    }
    WriteRestoreProgress(store, whole);
    return summary;
}

// A restore writes its records (progress, target) in the backup location under its target's
// lock: a shard its own part of it, a finish all of it. A location that cannot take a lock
// (read-only media) takes no records either, and the restore goes on as one process.
WriterLocks LockRestore(const std::shared_ptr<BackupStore>& store, const Manifest& manifest, const RestoreOptions& options) {
    const std::string target = (options.database.empty() ? manifest.sourceDatabase : options.database) + "/" +
                               (options.container.empty() ? manifest.sourceContainer : options.container);
    const std::string name = RestoreLockName(options.runKey.empty() ? target : options.runKey);
    try {
        if (options.shard) return LockShard(store, options.shard->index, name);
        if (!options.finish) return LockLocation(*store, name);
        const auto recorded = ReadRestoreTarget(*store, RestoreTarget{options.endpoint, target, manifest.createdAt, "", 0});
        return LockRun(store, name, recorded ? recorded->shards : 0);
    } catch (const LockRefused&) {
        throw;
    } catch (const ToolError& e) {
        if (options.shard || options.finish) throw;
        std::fprintf(stderr, "note: the restore cannot lock %s (%s)\n", store->Describe().c_str(), e.what());
        return WriterLocks();
    }
}

}  // namespace

ThroughputLayout TargetLayout(const Manifest& manifest, const RestoreOptions& options) {
    ThroughputLayout layout;
    if (options.throughput > 0) {
        layout.scope = ThroughputLayout::kOwn;
        layout.manual = options.throughput;
    } else if (options.autoscaleMax > 0) {
        layout.scope = ThroughputLayout::kOwn;
        layout.autoscaleMax = options.autoscaleMax;
    } else if (!options.noThroughput) {
        layout = manifest.throughput;
        layout.serverless = false;
        if (layout.autoscaleMax > 0) layout.manual = 0;  // the offer's current RU/s follow the load
    }
    return layout;
}

RestoreItemsOptions ItemsOptions(BackupStore& store, const RestoreOptions& options, const std::string& database,
                                 const std::string& container) {
    RestoreItemsOptions items;
    items.store = &store;
    items.endpoint = options.endpoint;
    items.database = database;
    items.container = container;
    items.parallelism = options.parallelism;
    items.itemsPerCall = options.itemsPerCall;
    items.resume = options.resume;
    items.progress = options.progress;
    return items;
}

std::string RestoreResumeCommand(const RestoreOptions& options, const std::string& database, const std::string& container) {
    return options.rerun.With({"restore", "--from", options.directory, "--database", database, "--container", container, "--resume"});
}

namespace {

// A resumed restore creates the target (when it was killed before) as it was begun: options given
// again may repeat the recorded throughput, not contradict it.
RestoreOptions WithRecordedThroughput(const RestoreOptions& options, const RestoreProgress& recorded, const std::string& resumeCommand) {
    const bool given = options.throughput > 0 || options.autoscaleMax > 0 || options.noThroughput;
    if (given && (options.throughput != recorded.throughput || options.autoscaleMax != recorded.autoscaleMax ||
                  options.noThroughput != recorded.noThroughput)) {
        throw ToolError("the interrupted restore into " + recorded.target + " was begun with other throughput options; to continue it, run: " +
                        resumeCommand);
    }
    RestoreOptions create = options;
    create.throughput = recorded.throughput;
    create.autoscaleMax = recorded.autoscaleMax;
    create.noThroughput = recorded.noThroughput;
    create.intoExisting = true;  // it goes on in the container it made
    return create;
}

}  // namespace

RestoreSummary RunRestore(Connection& connection, const RestoreOptions& options) {
    return RestoreBackup(connection, OpenBackupStore(options.directory, options.storage), options);
}

RestoreSummary RestoreBackup(Connection& connection, const std::shared_ptr<BackupStore>& store, const RestoreOptions& options) {
    // The backup is checked whole before anything is created or written.
    const Manifest whole = ReadManifest(*store);
    CheckSealedCounts(whole, store->Describe() + "/" + kManifestName);
    const WriterLocks held = LockRestore(store, whole, options);
    if (ChainOf(whole).IsIncrement()) {
        if (options.shard || options.finish) throw ToolError("a chain is restored by one process: --shard and --finish take a full backup");
        return RunChainRestore(connection, store, options);
    }
    if (options.finish) return FinishShardedRestore(connection, *store, whole, options);
    const Manifest manifest = options.shard ? ShareOf(whole, *options.shard) : whole;
    // From remote storage each data file is downloaded once: the storage's list vouches for
    // sizes and MD5s at no download, and the content is checked while it is read for writing.
    // A directory is read twice instead (every file checked whole, then read for writing):
    // local reads are cheap, and so a damaged or crafted backup still writes nothing at all.
    const bool checkWhileReading = IsRemoteLocation(options.directory) && CheckDataFilesUnread(*store, manifest);
    if (!checkWhileReading) {
        CheckDataFiles(*store, manifest);
        CheckDataFileContents(*store, manifest);
    }

    RestoreSummary summary;
    summary.database = options.database.empty() ? manifest.sourceDatabase : options.database;
    summary.container = options.container.empty() ? manifest.sourceContainer : options.container;
    RestoreItemsOptions items = ItemsOptions(*store, options, summary.database, summary.container);
    items.checkWhileReading = checkWhileReading;
    // --into-existing starts over on purpose; otherwise an interrupted restore is continued, not redone.
    items.intoExisting = options.intoExisting;
    items.resumeCommand = options.resumeCommand.empty() ? RestoreResumeCommand(options, summary.database, summary.container)
                                                        : options.resumeCommand;
    items.throughput = options.throughput;
    items.autoscaleMax = options.autoscaleMax;
    items.noThroughput = options.noThroughput;
    if (options.shard) {
        // A shard records its share under a name of its own, and its command run again goes on
        // with that share, without --resume.
        items.progressKey = ShardKey(summary, *options.shard);
        items.resumeCommand = "the same command again (shard " + options.shard->Describe() + " goes on where it stopped)";
        const auto recorded = ReadRestoreProgress(*store, items.progressKey);
        const bool ours = recorded && recorded->backupCreatedAt == manifest.createdAt && recorded->endpoint == options.endpoint;
        if (ours && recorded->finished) {
            std::fprintf(stderr, "cosmos-backup: shard %s of the restore into %s/%s is complete already; nothing to do\n",
                         options.shard->Describe().c_str(), summary.database.c_str(), summary.container.c_str());
            summary.alreadyDone = true;
            summary.counted = -1;
            return summary;
        }
        items.resume = ours;
    }
    // Recorded before the target is created, so that a restore killed right after creating it resumes.
    if (!options.shard && !options.runKey.empty()) items.progressKey = options.runKey;
    const std::string target = summary.database + "/" + summary.container;
    const RestoreStart start = BeginRestore(manifest, items, ContainerExists(connection, summary.database, summary.container));
    const RestoreTarget claim = ClaimTarget(connection, *store, manifest, options, target, start.resumed);
    const RestoreOptions create = start.resumed ? WithRecordedThroughput(options, start.progress, items.resumeCommand) : options;
    const TargetState created = CreateTarget(connection, manifest, create, summary, [&] {
        if (!start.resumed) RecordBeginning(*store, start.progress);
    }, options.shard.has_value());
    summary.layout = created.layout;
    ConfirmTarget(*store, claim, created.rid, target);

    auto& bridge = connection.bridge();
    const auto restored = RestoreItemsResumably(connection, manifest, items, start.progress);
    summary.items = restored.written - restored.failed;
    summary.skipped = restored.skipped;
    summary.failed = restored.failed;
    summary.reportPath = restored.reportPath;
    summary.usage = restored.usage;
    summary.seconds = restored.seconds;
    if (options.shard) {
        summary.counted = -1;  // scripts and the count come with --finish, after every shard
        return summary;
    }
    if (manifest.scriptCount > 0) {
        connection.Require(bridge.RestoreAttachedScripts(manifest.scripts.dump(), true),
                           "cannot restore the scripts of " + target);
    }
    summary.scripts = manifest.scriptCount;
    connection.Require(bridge.OpenCosmosDBContainer("", summary.database, false, summary.container, ""),
                       "cannot open " + target + " to count it");
    connection.Require(bridge.CountItems(summary.counted), "cannot count the items of " + target);
    // Items that could not be written are in the report; the count is then short by them.
    if (summary.counted != manifest.itemCount && summary.failed == 0) {
        throw ToolError(target + " holds " + std::to_string(summary.counted) + " items after the restore; the backup has " +
                        std::to_string(manifest.itemCount));
    }
    return summary;
}

}  // namespace cosmosbackup
