#include "repository/Repository.h"

#include "format/DurableFile.h"
#include "repository/BackupId.h"
#include "storage/Cipher.h"
#include "storage/Digest.h"
#include "storage/KeySlots.h"
#include "support/ToolError.h"
#include "support/UtcTime.h"

#include <nlohmann/json.hpp>

#include <set>

namespace cosmosbackup {
namespace {

constexpr std::size_t kRecordLimit = 1 << 20;
constexpr int kRepositoryFormat = 1;
constexpr const char* kUnencryptedRefused =
    "a new repository is encrypted: give --password-file, COSMOS_BACKUP_PASSWORD_FILE or COSMOS_BACKUP_PASSWORD "
    "(or --insecure-no-encryption for one without encryption)";

std::string RunRecordName(const std::string& id) { return "run-" + id + ".json"; }
std::string ForgetMarkName(const std::string& id) { return "forget-" + id + ".json"; }

// The id of a root record named by `nameOf` (RunRecordName, ForgetMarkName), or nothing.
std::optional<std::string> IdOfRecord(const StoredFile& entry, std::string (*nameOf)(const std::string&)) {
    const std::string prefix = nameOf("");
    const std::string start = prefix.substr(0, prefix.find('.'));
    if (!entry.plain || entry.name.size() <= prefix.size() || entry.name.rfind(start, 0) != 0) return std::nullopt;
    const auto id = entry.name.substr(start.size(), entry.name.size() - prefix.size());
    if (!IsBackupId(id) || entry.name != nameOf(id)) return std::nullopt;
    return id;
}

std::string LastSegment(std::string location) {
    while (location.size() > 1 && location.back() == '/') location.pop_back();
    return location.substr(location.rfind('/') + 1);
}

// The repository's record as stored, or nothing where there is none.
std::optional<nlohmann::json> ReadRecord(const BackupStore& root) {
    const auto text = ReadSmallFile(root, kRepositoryRecordName, kRecordLimit);
    if (!text) return std::nullopt;
    try {
        auto record = nlohmann::json::parse(*text);
        if (record.at("formatVersion").get<int>() != kRepositoryFormat) throw ToolError("unknown format version");
        record.at("lockSalt").get<std::string>();
        record.at("encrypted").get<bool>();
        return record;
    } catch (const std::exception& e) {
        throw ToolError(root.Describe() + ": " + kRepositoryRecordName + " is malformed: " + e.what());
    }
}

// Makes the repository: its record first (in an encrypted one this founds the key slots).
// Of several runs that make it at once one record wins and all take it.
nlohmann::json Found(BackupStore& root, bool encrypted) {
    if (root.List().empty()) {
        try {
            root.CreateNew();
        } catch (const ToolError&) {
            // another run made it meanwhile: its record is read below
        }
    }
    const nlohmann::json record{{"formatVersion", kRepositoryFormat},
                                {"encrypted", encrypted},
                                {"createdAt", UtcNow()},
                                {"lockSalt", EncodeBase64(RandomBytes(16))}};
    root.CreateExclusive(kRepositoryRecordName, record.dump(2) + "\n");
    return ReadRecord(root).value();
}

}  // namespace

Repository::Repository(std::string location, StoreOptions storage, std::shared_ptr<BackupStore> root, bool encrypted, std::string lockSalt)
    : m_location(std::move(location)), m_storage(std::move(storage)), m_root(std::move(root)), m_encrypted(encrypted),
      m_lockSalt(std::move(lockSalt)) {
    while (m_location.size() > 1 && m_location.back() == '/') m_location.pop_back();
}

Repository Repository::Open(const std::string& location, const StoreOptions& storage, Opening opening) {
    auto plain = std::shared_ptr<BackupStore>(OpenStoredFiles(location, storage));
    StoreOptions options = storage;
    std::shared_ptr<BackupStore> root = plain;
    const bool slots = !ReadKeySlots(*plain).empty();
    const bool empty = !slots && plain->List().empty();
    if (empty && !opening.create) throw ToolError(location + " is not a backup repository (it is empty or missing)");
    if (empty && !opening.insecure && !storage.password) throw ToolError(kUnencryptedRefused);
    if (slots || (empty && !opening.insecure)) {
        root = OpenBackupStore(location, storage);  // refuses a missing or wrong password
    } else {
        options.password.reset();
    }
    auto record = ReadRecord(*root);
    if (!record && empty) record = Found(*root, !opening.insecure);
    if (!record) throw ToolError(location + " is not a backup repository (it has no " + kRepositoryRecordName + ")");
    const bool encrypted = record->at("encrypted").get<bool>();
    if (encrypted != (root != plain)) throw ToolError(location + ": the repository's record does not match its key slots");
    return Repository(location, options, root, encrypted, record->at("lockSalt").get<std::string>());
}

std::string Repository::LocationOf(const std::string& path) const { return m_location + "/" + path; }

std::shared_ptr<BackupStore> Repository::OpenBackup(const std::string& path) const {
    std::shared_ptr<BackupStore> store = m_root;
    std::size_t begin = 0;
    while (begin <= path.size()) {
        const auto end = std::min(path.find('/', begin), path.size());
        store = store->Below(path.substr(begin, end - begin));
        begin = end + 1;
    }
    return store;
}

std::vector<std::string> Repository::BackupIds() const {
    std::set<std::string> ids;  // ids sort by time
    for (const auto& entry : m_root->List()) {
        if (!entry.plain && IsBackupId(entry.name)) ids.insert(entry.name);
        // A backup whose location is gone is still known by its records (a prune killed midway).
        for (const auto& record : {RunRecordName, ForgetMarkName}) {
            if (auto id = IdOfRecord(entry, record)) ids.insert(*id);
        }
    }
    return {ids.begin(), ids.end()};
}

std::string Repository::IdOf(const std::string& segment) const {
    if (IsBackupId(segment)) return segment;
    std::lock_guard<std::mutex> lock(*m_storedIdsMutex);
    if (m_storedIds.count(segment) == 0) {
        for (const auto& id : BackupIds()) m_storedIds[LastSegment(OpenBackup(id)->Describe())] = id;
    }
    const auto found = m_storedIds.find(segment);
    return found == m_storedIds.end() ? segment : found->second;
}

std::optional<RunRecord> Repository::ReadRun(const std::string& id) const {
    const auto text = ReadSmallFile(*m_root, RunRecordName(id), kRecordLimit);
    if (!text) return std::nullopt;
    const std::string where = m_location + ": the run record of " + id;
    nlohmann::json json;
    try {
        json = nlohmann::json::parse(*text);
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(where + " is malformed: " + e.what());
    }
    auto record = RunRecordOf(json, where);
    if (record.id != id) throw ToolError(where + " names another backup (" + record.id + ")");
    return record;
}

void Repository::WriteRun(const RunRecord& record) { WriteFileDurably(*m_root, RunRecordName(record.id), ToJson(record).dump(2) + "\n"); }

bool Repository::IsForgotten(const std::string& id) const { return ForgottenIds().count(id) > 0; }

std::set<std::string> Repository::ForgottenIds() const {
    std::set<std::string> ids;
    for (const auto& entry : m_root->List()) {
        if (auto id = IdOfRecord(entry, ForgetMarkName)) ids.insert(*id);
    }
    return ids;
}

void Repository::MarkForgotten(const std::string& id, const std::string& reason) {
    WriteFileDurably(*m_root, ForgetMarkName(id), nlohmann::json{{"id", id}, {"forgottenAt", UtcNow()}, {"reason", reason}}.dump() + "\n");
}

void Repository::RemoveRecords(const std::string& id) {
    m_root->Remove(RunRecordName(id));
    m_root->Remove(ForgetMarkName(id));
}

std::string Repository::SourceName(const std::string& kind, const std::string& sourceKey) const {
    return kind + "-" + Sha256Hex(m_lockSalt + sourceKey).substr(0, 24);
}

WriterLocks Repository::LockSource(const std::string& sourceKey) { return LockLocation(*m_root, SourceName("source", sourceKey) + kLockSuffix); }

std::optional<std::string> Repository::CurrentShardedRun(const std::string& sourceKey) const {
    const auto text = ReadSmallFile(*m_root, CurrentShardedRunName(sourceKey), kRecordLimit);
    if (!text) return std::nullopt;
    try {
        const auto id = nlohmann::json::parse(*text).at("id").get<std::string>();
        if (IsBackupId(id)) return id;
    } catch (const nlohmann::json::exception&) {
        // malformed: refused below
    }
    throw ToolError(m_location + ": the record of a source's current sharded run is malformed");
}

void Repository::SetCurrentShardedRun(const std::string& sourceKey, const std::string& id) {
    WriteFileDurably(*m_root, CurrentShardedRunName(sourceKey), nlohmann::json{{"id", id}}.dump() + "\n");
}

void Repository::DropCurrentShardedRun(const std::string& sourceKey) { m_root->Remove(CurrentShardedRunName(sourceKey)); }

}  // namespace cosmosbackup
