#pragma once

#include <nlohmann/json.hpp>

#include <map>
#include <string>

namespace cosmosbackup {

// What a repository keeps beside each backup, at its root as run-<id>.json: the source the run
// was asked for (an account run names no container), the parent it began from, and once it
// ended its figures. Written when the run begins (so that forget and prune see an unfinished
// run's parent) and rewritten when it ends. The manifests stay the truth about what a backup
// holds; this adds what they do not say.
struct RunRecord {
    static constexpr int kFormatVersion = 1;

    std::string id;
    std::string endpoint;
    std::string database;   // "" for a run over every database
    std::string container;  // "" for an account run
    bool account = false;
    int shards = 0;         // N for a run of N shard tasks (backup --shard), 0 for one process
    std::string parent;     // the id of the backup this one is an increment of, "" for a full one
    std::string toolVersion;
    bool finished = false;
    double requestCharge = 0;
    double seconds = 0;
    // An account run's figures per container ("db/container").
    struct Figures {
        double requestCharge = 0;
        double seconds = 0;
    };
    std::map<std::string, Figures> containers;

    // One text per source: backups of equal keys form one history (chains, retention, lock).
    std::string SourceKey() const;
    // "db/container", "db (account run)", "all databases (account run)".
    std::string DescribeSource() const;
};

nlohmann::json ToJson(const RunRecord& record);
// Throws ToolError for a malformed record (it is input like any stored file).
RunRecord RunRecordOf(const nlohmann::json& json, const std::string& where);

// The source key of a run over one container or many, as the command line names it.
std::string SourceKeyOf(const std::string& endpoint, const std::string& database, const std::string& container, bool account);

}  // namespace cosmosbackup
