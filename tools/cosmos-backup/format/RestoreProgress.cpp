#include "format/RestoreProgress.h"

#include "format/DurableFile.h"
#include "format/LocationLayout.h"
#include "support/ToolError.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace cosmosbackup {
namespace {

constexpr std::size_t kRecordLimit = 1024 * 1024;

std::string RecordName(const std::string& target) { return RestoreProgressName(target); }

}  // namespace

void WriteRestoreProgress(BackupStore& store, const RestoreProgress& p) {
    const nlohmann::json j = {
        {"endpoint", p.endpoint},       {"throughput", p.throughput},           {"autoscaleMax", p.autoscaleMax},
        {"noThroughput", p.noThroughput}, {"created", p.created},
        {"target", p.target},           {"backupCreatedAt", p.backupCreatedAt}, {"filesDone", p.filesDone},
        {"itemsInFile", p.itemsInFile}, {"itemsDone", p.itemsDone},             {"sessionToken", p.sessionToken},
        {"finished", p.finished},       {"failureReport", p.failureReport},     {"itemsRefused", p.itemsRefused},
    };
    WriteFileDurably(store, RecordName(p.target), j.dump() + "\n");
}

std::optional<RestoreProgress> ReadRestoreProgress(const BackupStore& store, const std::string& target) {
    const auto path = store.Describe() + "/" + RecordName(target);
    const auto text = ReadSmallFile(store, RecordName(target), kRecordLimit);
    if (!text) return std::nullopt;
    try {
        const auto j = nlohmann::json::parse(*text);
        RestoreProgress p;
        j.at("target").get_to(p.target);
        if (p.target != target) return std::nullopt;  // a hash collision: not this target's record
        j.at("backupCreatedAt").get_to(p.backupCreatedAt);
        j.at("filesDone").get_to(p.filesDone);
        j.at("itemsInFile").get_to(p.itemsInFile);
        j.at("itemsDone").get_to(p.itemsDone);
        j.at("sessionToken").get_to(p.sessionToken);
        j.at("finished").get_to(p.finished);
        p.endpoint = j.value("endpoint", std::string());
        p.throughput = j.value("throughput", 0);
        p.autoscaleMax = j.value("autoscaleMax", 0);
        p.noThroughput = j.value("noThroughput", false);
        p.created = j.value("created", true);
        p.failureReport = j.value("failureReport", std::string());
        p.itemsRefused = j.value("itemsRefused", std::int64_t{0});
        if (p.itemsInFile < 0 || p.itemsDone < 0 || p.itemsRefused < 0) throw ToolError(path + " holds a negative count");
        return p;
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(path + " is not a valid restore progress record: " + e.what());
    }
}

std::vector<RestoreProgress> ReadAllRestoreProgress(const BackupStore& store) {
    std::vector<RestoreProgress> records;
    for (const auto& file : store.List()) {
        if (RestoreRecordPrefixOf(file.name) != std::string(kRestoreProgressPrefix) || !file.plain) continue;
        const auto text = ReadSmallFile(store, file.name, kRecordLimit);
        if (!text) continue;
        std::string target;
        try {
            nlohmann::json::parse(*text).at("target").get_to(target);
        } catch (const nlohmann::json::exception& e) {
            throw ToolError(store.Describe() + "/" + file.name + " is not a valid restore progress record: " + e.what());
        }
        if (auto record = ReadRestoreProgress(store, target)) records.push_back(std::move(*record));
    }
    return records;
}

}  // namespace cosmosbackup
