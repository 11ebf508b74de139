#pragma once

#include "format/WriterLock.h"
#include "repository/RunRecord.h"
#include "storage/BackupStore.h"
#include "storage/OpenBackupStore.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace cosmosbackup {

// A location holding many backups: each an ordinary backup location below it, named by its id
// (BackupId.h); at the root the repository's record (repository.json), one run record per
// backup (run-<id>.json), a mark per forgotten backup (forget-<id>.json), the locks of its
// sources and each source's current sharded run (sharded-<keyed hash>.json). An encrypted
// repository holds its key slots at the root and every backup below uses its master key: all
// names below the root (the backups' too) are then opaque.
class Repository {
public:
    struct Opening {
        bool create = false;    // make a new repository where the location is empty or missing
        bool insecure = false;  // a new repository without encryption (--insecure-no-encryption)
    };

    // Throws ToolError when the location is no repository (and not to be created), when an
    // encrypted one is opened without its password or with a wrong one ("wrong password"), and
    // when a new one would be unencrypted without `insecure`.
    static Repository Open(const std::string& location, const StoreOptions& storage, Opening opening);

    const std::string& Location() const { return m_location; }
    // How the repository's backups are opened: its password, none for an unencrypted one.
    const StoreOptions& Storage() const { return m_storage; }
    bool Encrypted() const { return m_encrypted; }
    BackupStore& Root() const { return *m_root; }

    // The location of a backup (an id, or ID/DB/CONTAINER for a container of an account run) as
    // OpenBackupStore takes it, and the backup opened below the root.
    std::string LocationOf(const std::string& path) const;
    std::shared_ptr<BackupStore> OpenBackup(const std::string& path) const;

    // The id a path segment names: an id, or its name as stored in an encrypted repository (links
    // between its backups are recorded as stored); other segments as they are.
    std::string IdOf(const std::string& segment) const;
    // The ids of the backups the repository holds (a location or a run record), oldest first.
    std::vector<std::string> BackupIds() const;
    std::optional<RunRecord> ReadRun(const std::string& id) const;
    void WriteRun(const RunRecord& record);
    bool IsForgotten(const std::string& id) const;
    // The ids with a forget mark, from one listing of the root.
    std::set<std::string> ForgottenIds() const;
    void MarkForgotten(const std::string& id, const std::string& reason);
    // Removes a backup's run record, then its forget mark: the last steps of pruning it.
    void RemoveRecords(const std::string& id);

    // The lock of one source (RunRecord::SourceKey): a backup of it, and prune, hold it.
    WriterLocks LockSource(const std::string& sourceKey);

    // The id of the source's current sharded run (the one its shard tasks join), written by the
    // first task under the source's lock and dropped when the run is finished; nothing without.
    std::optional<std::string> CurrentShardedRun(const std::string& sourceKey) const;
    void SetCurrentShardedRun(const std::string& sourceKey, const std::string& id);
    void DropCurrentShardedRun(const std::string& sourceKey);

private:
    // Names of a source's records at the root: keyed, so that they tell nothing of the source.
    std::string SourceName(const std::string& kind, const std::string& sourceKey) const;
    std::string CurrentShardedRunName(const std::string& sourceKey) const { return SourceName("sharded", sourceKey) + ".json"; }

    Repository(std::string location, StoreOptions storage, std::shared_ptr<BackupStore> root, bool encrypted, std::string lockSalt);

    std::string m_location;
    StoreOptions m_storage;
    std::shared_ptr<BackupStore> m_root;
    bool m_encrypted = false;
    std::string m_lockSalt;  // names of source locks are keyed, so that they tell nothing of the source
    std::shared_ptr<std::mutex> m_storedIdsMutex = std::make_shared<std::mutex>();
    mutable std::map<std::string, std::string> m_storedIds;  // stored name -> id
};

inline constexpr const char* kRepositoryRecordName = "repository.json";

}  // namespace cosmosbackup
