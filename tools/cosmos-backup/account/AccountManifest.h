#pragma once

#include "account/AccountReport.h"
#include "format/Manifest.h"
#include "storage/BackupStore.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cosmosbackup {

// One container of an account backup.
struct AccountContainer {
    static constexpr const char* kPending = "pending";    // not backed up yet (a run was cut short)
    static constexpr const char* kComplete = "complete";  // its backup is whole
    static constexpr const char* kFailed = "failed";      // its backup failed; --resume goes on with it
    static constexpr const char* kDeleted = "deleted";    // gone since the previous backup of the chain

    std::string id;
    std::string location;  // its path segment in the database's location (EncodeSegment(id))
    std::string status = kPending;
    std::string kind;      // "full" or "incremental" ("" for a deleted one)
    std::string rid;       // the service's resource id when it was backed up ("" if not known)
    std::int64_t items = 0;  // items of the state its backup describes (of a chain: after this link)
    std::string error;     // why it failed
};

// One database of an account backup: its settings (the shared throughput, recorded once) and
// its containers.
struct AccountDatabase {
    std::string id;
    std::string location;  // its path segment in the account backup (EncodeSegment(id))
    std::optional<ThroughputLayout> sharedThroughput;  // the database's own offer, when it has one
    std::vector<AccountContainer> containers;
};

// account.json: what an account backup holds. Each container's backup is an ordinary backup
// (manifest.json and its files) at DATABASE-LOCATION/CONTAINER-LOCATION below the account's.
// Written when a run starts (all pending) as account-checkpoint.json, and at its end, last, as
// account.json, also when containers failed (complete is then false).
struct AccountManifest {
    static constexpr int kFormatVersion = 1;

    int formatVersion = kFormatVersion;
    std::string createdAt;
    std::string finishedAt;
    std::string sourceEndpoint;
    bool complete = false;
    std::string since;  // an increment of a chain: the previous account backup, relative to this one
    std::vector<AccountDatabase> databases;

    // The container's location relative to the account backup's.
    static std::string PathOf(const AccountDatabase& d, const AccountContainer& c) { return d.location + "/" + c.location; }
};


bool HasFile(const BackupStore& store, const std::string& name);
// Writes `name` (account.json or the checkpoint) atomically and durably.
void WriteAccountManifest(BackupStore& store, const AccountManifest& manifest, const std::string& name);
// Writes the plan of a new run as account-checkpoint.json only when there is none (the store's
// exclusive create); false when another run claimed the location first.
bool ClaimAccountLocation(BackupStore& store, const AccountManifest& plan);
// Reads and checks it as untrusted input: a regular file of at most 16 MiB, a known format,
// every id a non-empty string of at most 255 bytes named once, every location exactly the
// encoding of its id (so none leads out of the backup), known statuses and kinds.
AccountManifest ReadAccountManifest(const BackupStore& store, const std::string& name);

// A container whose backup is finished (`manifest`): its entry's kind and items, and its report's figures.
void DescribeFinished(const Manifest& manifest, AccountContainer& container, ContainerReport& report);
// A database's shared offer is recorded once, from whichever of its containers uses it (`layout`).
void NoteSharedThroughput(AccountDatabase& database, const ThroughputLayout& layout);

}  // namespace cosmosbackup
