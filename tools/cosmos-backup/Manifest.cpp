#include "Manifest.h"

#include "ToolError.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

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

void WriteManifest(const std::string& directory, const Manifest& manifest) {
    const auto final = std::filesystem::path(directory) / kManifestName;
    const auto temporary = std::filesystem::path(directory) / (std::string(kManifestName) + ".tmp");
    {
        std::ofstream out(temporary);
        if (!out) throw ToolError("cannot write " + temporary.string());
        out << nlohmann::json(manifest).dump(2) << '\n';
        out.flush();
        if (!out) throw ToolError("cannot write " + temporary.string());
    }
    chmod(temporary.c_str(), S_IRUSR | S_IWUSR);
    std::error_code error;
    std::filesystem::rename(temporary, final, error);
    if (error) throw ToolError("cannot write " + final.string() + ": " + error.message());
}

Manifest ReadManifest(const std::string& directory) {
    const auto path = std::filesystem::path(directory) / kManifestName;
    std::ifstream in(path);
    if (!in) {
        throw ToolError(directory + " has no " + kManifestName + ": the backup is incomplete or not a backup");
    }
    try {
        const auto j = nlohmann::json::parse(in);
        Manifest manifest = j.get<Manifest>();
        if (manifest.formatVersion != Manifest::kFormatVersion) {
            throw ToolError(path.string() + " has format version " + std::to_string(manifest.formatVersion) +
                            "; this tool reads version " + std::to_string(Manifest::kFormatVersion));
        }
        return manifest;
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(path.string() + " is not a valid manifest: " + e.what());
    }
}

}  // namespace cosmosbackup
