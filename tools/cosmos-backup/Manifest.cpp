#include "Manifest.h"

#include "InputFile.h"
#include "ToolError.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

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

void to_json(nlohmann::json& j, const ThroughputLayout& t) {
    j = {{"layout", t.scope}, {"serverless", t.serverless}, {"manual", t.manual}, {"autoscaleMax", t.autoscaleMax}};
}

void from_json(const nlohmann::json& j, ThroughputLayout& t) {
    j.at("manual").get_to(t.manual);
    j.at("autoscaleMax").get_to(t.autoscaleMax);
    // Version 1 knew only the container's own offer.
    t.scope = j.value("layout", std::string(t.manual > 0 || t.autoscaleMax > 0 ? ThroughputLayout::kOwn : ThroughputLayout::kNone));
    t.serverless = j.value("serverless", false);
    if (t.scope != ThroughputLayout::kOwn && t.scope != ThroughputLayout::kShared && t.scope != ThroughputLayout::kNone) {
        throw ToolError("unknown throughput layout \"" + t.scope + "\"");
    }
}

std::string DescribeLayout(const ThroughputLayout& layout) {
    if (layout.scope == ThroughputLayout::kNone) return layout.serverless ? "no throughput (serverless)" : "no throughput";
    const std::string amount = layout.autoscaleMax > 0 ? "autoscale up to " + std::to_string(layout.autoscaleMax) + " RU/s"
                                                       : std::to_string(layout.manual) + " RU/s";
    return (layout.scope == ThroughputLayout::kShared ? "the database's shared " : "its own ") + amount;
}

void to_json(nlohmann::json& j, const Manifest& m) {
    j = {
        {"formatVersion", m.formatVersion},
        {"createdAt", m.createdAt},
        {"source", {{"endpoint", m.sourceEndpoint}, {"database", m.sourceDatabase}, {"container", m.sourceContainer}}},
        {"partitionKey", m.partitionKey},
        {"indexingPolicy", m.indexingPolicy},
        {"container", m.container},
        {"throughput", m.throughput},
        {"defaultTtl", m.defaultTtl},
        {"scripts", m.scripts},
        {"scriptCount", m.scriptCount},
        {"itemCount", m.itemCount},
        {"files", m.files},
    };
    if (!m.chain.is_null()) j["chain"] = m.chain;
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
    m.container = j.value("container", nlohmann::json());
    if (!m.container.is_null() && !m.container.is_object()) throw ToolError("the container definition is not an object");
    j.at("throughput").get_to(m.throughput);
    j.at("defaultTtl").get_to(m.defaultTtl);
    m.scripts = j.at("scripts");
    j.at("scriptCount").get_to(m.scriptCount);
    j.at("itemCount").get_to(m.itemCount);
    j.at("files").get_to(m.files);
    m.chain = j.value("chain", nlohmann::json());
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
    // The data files' entries and the manifest's content are durable before the rename makes
    // the backup complete, and the rename is durable before the backup is reported done.
    SyncFile(temporary.string());
    SyncDirectory(directory);
    std::error_code error;
    std::filesystem::rename(temporary, final, error);
    if (error) throw ToolError("cannot write " + final.string() + ": " + error.message());
    SyncDirectory(directory);
}

namespace {

std::string ReadManifestText(const std::string& directory, const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 && errno == ENOENT) {
        throw ToolError(directory + " has no " + kManifestName + ": the backup is incomplete or not a backup");
    }
    off_t size = 0;
    const FileDescriptor fd = OpenRegularFile(path, size);
    if (static_cast<std::uintmax_t>(size) > kMaxManifestBytes) {
        throw ToolError(path + " has " + std::to_string(size) + " bytes, more than a manifest may have (" +
                        std::to_string(kMaxManifestBytes) + ")");
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t got = ::read(fd.get(), text.data() + done, text.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) throw ToolError("cannot read " + path);
        done += static_cast<std::size_t>(got);
    }
    return text;
}

void CheckFileNames(const Manifest& manifest) {
    std::set<std::string> seen;
    for (const auto& file : manifest.files) {
        DataFilePath("", file.name);  // throws for a name that is not the tool's own
        if (!seen.insert(file.name).second) throw ToolError("it names the data file " + file.name + " twice");
        if (file.items < 0 || file.bytes < 0) throw ToolError("it gives " + file.name + " a negative size or count");
    }
}

}  // namespace

Manifest ReadManifest(const std::string& directory) {
    const auto path = (std::filesystem::path(directory) / kManifestName).string();
    const std::string text = ReadManifestText(directory, path);
    try {
        Manifest manifest = nlohmann::json::parse(text).get<Manifest>();
        if (manifest.formatVersion < Manifest::kOldestFormatVersion || manifest.formatVersion > Manifest::kChainFormatVersion) {
            throw ToolError("format version " + std::to_string(manifest.formatVersion) +
                            "; this tool reads versions " + std::to_string(Manifest::kOldestFormatVersion) + " to " +
                            std::to_string(Manifest::kChainFormatVersion));
        }
        const bool increment = manifest.chain.is_object() && manifest.chain.value("kind", std::string()) == "incremental";
        if ((manifest.formatVersion == Manifest::kChainFormatVersion) != increment) {
            throw ToolError("format version " + std::to_string(manifest.formatVersion) + (increment ? " for an increment of a chain"
                            : "; only increments of a chain have version " + std::to_string(Manifest::kChainFormatVersion)));
        }
        CheckFileNames(manifest);
        return manifest;
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(path + " is not a valid manifest: " + e.what());
    } catch (const ToolError& e) {
        throw ToolError(path + ": " + e.what());
    }
}

}  // namespace cosmosbackup
