#include "account/AccountManifest.h"

#include "account/AccountNames.h"
#include "chain/ChainRecord.h"
#include "format/BackupClaim.h"
#include "format/DurableFile.h"
#include "support/ToolError.h"

#include <set>

namespace cosmosbackup {
namespace {

constexpr std::uint64_t kMaxBytes = 16 << 20;
constexpr std::size_t kMaxIdBytes = 255;
constexpr const char* kKind = "cosmos-backup account";

nlohmann::json ToJson(const AccountManifest& m) {
    nlohmann::json databases = nlohmann::json::array();
    for (const auto& d : m.databases) {
        nlohmann::json containers = nlohmann::json::array();
        for (const auto& c : d.containers) {
            nlohmann::json entry{{"id", c.id}, {"location", c.location}, {"status", c.status}, {"kind", c.kind}, {"rid", c.rid}, {"items", c.items}};
            if (!c.error.empty()) entry["error"] = c.error;
            containers.push_back(std::move(entry));
        }
        nlohmann::json db{{"id", d.id}, {"location", d.location}, {"containers", std::move(containers)}};
        db["sharedThroughput"] = d.sharedThroughput ? nlohmann::json(*d.sharedThroughput) : nlohmann::json();
        databases.push_back(std::move(db));
    }
    nlohmann::json j{{"kind", kKind},           {"formatVersion", m.formatVersion}, {"createdAt", m.createdAt},
                     {"finishedAt", m.finishedAt}, {"complete", m.complete},      {"source", {{"endpoint", m.sourceEndpoint}}},
                     {"databases", std::move(databases)}};
    if (!m.since.empty()) j["since"] = m.since;
    return j;
}

std::string Id(const nlohmann::json& j, const std::string& what) {
    const std::string id = j.at("id").get<std::string>();
    if (id.empty() || id.size() > kMaxIdBytes) throw ToolError(what + " has an id that is empty or longer than " + std::to_string(kMaxIdBytes) + " bytes");
    return id;
}

// The location must be the id's own encoding: a crafted one could lead anywhere.
std::string Location(const nlohmann::json& j, const std::string& id) {
    const std::string location = j.at("location").get<std::string>();
    if (location != EncodeSegment(id)) throw ToolError("the location of '" + id + "' is '" + location + "', not " + EncodeSegment(id));
    return location;
}

AccountContainer ContainerFrom(const nlohmann::json& j) {
    AccountContainer c;
    c.id = Id(j, "a container");
    c.location = Location(j, c.id);
    c.status = j.at("status").get<std::string>();
    const std::set<std::string> statuses{AccountContainer::kPending, AccountContainer::kComplete, AccountContainer::kFailed,
                                         AccountContainer::kDeleted};
    if (statuses.count(c.status) == 0) throw ToolError("container '" + c.id + "' has the unknown status '" + c.status + "'");
    c.kind = j.value("kind", std::string());
    if (c.kind != "" && c.kind != "full" && c.kind != "incremental") throw ToolError("container '" + c.id + "' has the unknown kind '" + c.kind + "'");
    c.rid = j.value("rid", std::string());
    c.items = j.value("items", std::int64_t{0});
    if (c.items < 0) throw ToolError("container '" + c.id + "' has a negative item count");
    c.error = j.value("error", std::string());
    return c;
}

AccountManifest FromJson(const nlohmann::json& j) {
    if (!j.is_object() || j.value("kind", std::string()) != kKind) throw ToolError("it is not an account backup's manifest");
    AccountManifest m;
    m.formatVersion = j.at("formatVersion").get<int>();
    if (m.formatVersion != AccountManifest::kFormatVersion) {
        throw ToolError("format version " + std::to_string(m.formatVersion) + "; this tool reads version " +
                        std::to_string(AccountManifest::kFormatVersion));
    }
    m.createdAt = j.at("createdAt").get<std::string>();
    m.finishedAt = j.value("finishedAt", std::string());
    m.complete = j.at("complete").get<bool>();
    m.sourceEndpoint = j.at("source").at("endpoint").get<std::string>();
    m.since = j.value("since", std::string());
    std::set<std::string> databaseIds;
    for (const auto& dj : j.at("databases")) {
        AccountDatabase d;
        d.id = Id(dj, "a database");
        d.location = Location(dj, d.id);
        if (!databaseIds.insert(d.id).second) throw ToolError("it names database '" + d.id + "' twice");
        const auto& shared = dj.at("sharedThroughput");
        if (!shared.is_null()) d.sharedThroughput = shared.get<ThroughputLayout>();
        std::set<std::string> containerIds;
        for (const auto& cj : dj.at("containers")) {
            d.containers.push_back(ContainerFrom(cj));
            if (!containerIds.insert(d.containers.back().id).second) {
                throw ToolError("it names container '" + d.id + "/" + d.containers.back().id + "' twice");
            }
        }
        m.databases.push_back(std::move(d));
    }
    return m;
}

}  // namespace

bool HasFile(const BackupStore& store, const std::string& name) {
    for (const auto& f : store.List()) {
        if (f.name == name) return true;
    }
    return false;
}

void WriteAccountManifest(BackupStore& store, const AccountManifest& manifest, const std::string& name) {
    WriteFileDurably(store, name, ToJson(manifest).dump(2) + "\n");
}

bool ClaimAccountLocation(BackupStore& store, const AccountManifest& plan) {
    return ClaimRecord(store, kAccountCheckpointName, ToJson(plan).dump(2) + "\n");
}

AccountManifest ReadAccountManifest(const BackupStore& store, const std::string& name) {
    const std::string where = store.Describe() + "/" + name;
    const auto text = ReadSmallFile(store, name, kMaxBytes);
    if (!text) throw ToolError(store.Describe() + " has no " + name + ": it is not an account backup, or an unfinished one");
    try {
        return FromJson(nlohmann::json::parse(*text));
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(where + " is not a valid account manifest: " + e.what());
    } catch (const ToolError& e) {
        throw ToolError(where + " is not a valid account manifest: " + e.what());
    }
}

void DescribeFinished(const Manifest& manifest, AccountContainer& container, ContainerReport& report) {
    const ChainRecord chain = ChainOf(manifest);
    container.kind = chain.IsIncrement() ? "incremental" : "full";
    container.items = chain.IsIncrement() ? chain.keys.items : manifest.itemCount;
    report.kind = container.kind;
    report.items = manifest.itemCount;
    report.deletions = chain.IsIncrement() ? chain.deletions.items : 0;
    for (const auto& f : manifest.files) report.bytes += f.bytes;
}

void NoteSharedThroughput(AccountDatabase& database, const ThroughputLayout& layout) {
    if (layout.scope == ThroughputLayout::kShared && !database.sharedThroughput) database.sharedThroughput = layout;
}

}  // namespace cosmosbackup
