#include "Manifest.h"

#include "OpenBackupStore.h"
#include "ToolError.h"

#include <algorithm>

namespace cosmosbackup {

void to_json(nlohmann::json& j, const DataFile& f) {
    j = {{"name", f.name}, {"items", f.items}, {"bytes", f.bytes}, {"crc32", f.crc32}};
}

void from_json(const nlohmann::json& j, DataFile& f) {
    j.at("name").get_to(f.name);
    j.at("items").get_to(f.items);
    j.at("bytes").get_to(f.bytes);
    j.at("crc32").get_to(f.crc32);
}

void to_json(nlohmann::json& j, const Manifest& m) {
    j = {
        {"formatVersion", m.formatVersion},
        {"createdAt", m.createdAt},
        {"source", {{"endpoint", m.sourceEndpoint}, {"database", m.sourceDatabase}, {"container", m.sourceContainer}}},
        {"partitionKey", m.partitionKey},
        {"indexingPolicy", m.indexingPolicy},
        {"throughput", {{"manual", m.throughput}, {"autoscaleMax", m.autoscaleMaxThroughput}}},
        {"defaultTtl", m.defaultTtl},
        {"scripts", m.scripts},
        {"scriptCount", m.scriptCount},
        {"itemCount", m.itemCount},
        {"files", m.files},
    };
}

void from_json(const nlohmann::json& j, Manifest& m) {
    j.at("formatVersion").get_to(m.formatVersion);
    j.at("createdAt").get_to(m.createdAt);
    const auto& source = j.at("source");
    source.at("endpoint").get_to(m.sourceEndpoint);
    source.at("database").get_to(m.sourceDatabase);
    source.at("container").get_to(m.sourceContainer);
    m.partitionKey = j.at("partitionKey");
    m.indexingPolicy = j.at("indexingPolicy");
    j.at("throughput").at("manual").get_to(m.throughput);
    j.at("throughput").at("autoscaleMax").get_to(m.autoscaleMaxThroughput);
    j.at("defaultTtl").get_to(m.defaultTtl);
    m.scripts = j.at("scripts");
    j.at("scriptCount").get_to(m.scriptCount);
    j.at("itemCount").get_to(m.itemCount);
    j.at("files").get_to(m.files);
}

void WriteManifest(BackupStore& store, const Manifest& manifest) {
    const std::string text = nlohmann::json(manifest).dump(2) + "\n";
    auto writer = store.OpenWrite(kManifestName);
    writer->Write(text.data(), text.size());
    writer->Commit();
}

void WriteManifest(const std::string& location, const Manifest& manifest) {
    WriteManifest(*OpenBackupStore(location), manifest);
}

Manifest ReadManifest(const BackupStore& store) {
    const auto where = store.Describe() + "/" + kManifestName;
    const auto files = store.List();
    const auto found = std::find_if(files.begin(), files.end(), [](const StoredFile& f) { return f.name == kManifestName; });
    if (found == files.end()) {
        throw ToolError(store.Describe() + " has no " + kManifestName + ": the backup is incomplete or not a backup");
    }
    if (!found->plain) throw ToolError(where + " is not a regular file");
    if (found->size > kMaxManifestBytes) throw ToolError(where + " is larger than a manifest can be");
    std::string text;
    auto reader = store.OpenRead(kManifestName);
    char chunk[1 << 16];
    while (const auto got = reader->Read(chunk, sizeof chunk)) {
        text.append(chunk, got);
        if (text.size() > kMaxManifestBytes) throw ToolError(where + " is larger than a manifest can be");
    }
    try {
        Manifest manifest = nlohmann::json::parse(text).get<Manifest>();
        if (manifest.formatVersion != Manifest::kFormatVersion) {
            throw ToolError(where + " has format version " + std::to_string(manifest.formatVersion) +
                            "; this tool reads version " + std::to_string(Manifest::kFormatVersion));
        }
        return manifest;
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(where + " is not a valid manifest: " + e.what());
    }
}

Manifest ReadManifest(const std::string& location) { return ReadManifest(*OpenBackupStore(location)); }

}  // namespace cosmosbackup
