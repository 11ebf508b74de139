#include "pipeline/RestoreTargetSetup.h"

#include "format/RestoreTarget.h"
#include "service/ContainerDefinition.h"
#include "support/ToolError.h"

#include <cstdio>
#include <functional>

namespace cosmosbackup {

TargetState ReadTarget(Connection& connection, const std::string& target) {
    const auto j = connection.ContainerInfo(target);
    TargetState state;
    state.definition = j["container"];
    j["throughput"].get_to(state.layout);
    state.rid = j.value("rid", std::string());
    return state;
}

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

namespace {

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

RestoreStart PrepareTarget(Connection& connection, BackupStore& store, const Manifest& manifest, const RestoreOptions& options,
                           const RestoreItemsOptions& items, RestoreSummary& summary) {
    const std::string target = summary.database + "/" + summary.container;
    const RestoreStart start = BeginRestore(manifest, items, ContainerExists(connection, summary.database, summary.container));
    const RestoreTarget claim = ClaimTarget(connection, store, manifest, options, target, start.resumed);
    const RestoreOptions create = start.resumed ? WithRecordedThroughput(options, start.progress, items.resumeCommand) : options;
    const TargetState created = CreateTarget(connection, manifest, create, summary, [&] {
        if (!start.resumed) RecordBeginning(store, start.progress);
    }, options.shard.has_value());
    summary.layout = created.layout;
    ConfirmTarget(store, claim, created.rid, target);
    return start;
}

}  // namespace cosmosbackup
