#pragma once

#include "format/Manifest.h"
#include "repository/Repository.h"

#include <nlohmann/json.hpp>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace cosmosbackup {

// One container's backup in a repository: a backup of one container, or one container of an
// account run. Read from its manifest (an unfinished one from the run record).
struct CatalogueEntry {
    std::string path;    // below the repository: ID, or ID/DATABASE/CONTAINER in an account run
    std::string run;     // the account run's id; "" for a backup of one container
    std::string database, container;
    std::string kind;    // "full" or "increment"
    std::string parent;  // the path of the backup this one is an increment of; "" for a full one
    std::int64_t items = 0;  // of the state this backup restores
    std::int64_t bytes = 0;  // all files the manifest names
    double requestCharge = 0;
    double seconds = 0;
    bool complete = false;
    std::optional<Manifest> manifest;  // when it is complete
};

// One backup (one run) in a repository, as its records and manifests describe it.
struct CatalogueBackup {
    std::string id;
    std::time_t time = 0;
    std::optional<RunRecord> run;  // none when its run record is missing or unreadable
    bool runUnreadable = false;
    std::string sourceKey;         // RunRecord::SourceKey
    std::string source;            // for people: "db/container", "db (account run)"
    bool account = false;
    bool complete = false;
    bool forgotten = false;
    std::string parent;  // the id of the backup it continues, "" for a full one
    std::string toolVersion;
    std::vector<CatalogueEntry> entries;
    std::vector<std::string> problems;  // records that could not be read (check lists them)
};

// Every backup of the repository, oldest first. Nothing here throws for a damaged backup: what
// cannot be read is kept in its `problems`.
std::vector<CatalogueBackup> ReadCatalogue(const Repository& repository);

// The backups of one source, oldest first.
std::vector<const CatalogueBackup*> OfSource(const std::vector<CatalogueBackup>& catalogue, const std::string& sourceKey);

// Whether a backup's entries include the given database and container ("" matches any).
bool Matches(const CatalogueBackup& backup, const std::string& database, const std::string& container);

// list-backups: {"backups": [...]} (the entries of the matching backups, oldest first), and the
// same as a table for people.
nlohmann::ordered_json CatalogueJson(const std::vector<CatalogueBackup>& catalogue, const std::string& database, const std::string& container);
std::string CatalogueText(const std::vector<CatalogueBackup>& catalogue, const std::string& database, const std::string& container);

}  // namespace cosmosbackup
