#include "Backup.h"

#include "BackupDirectory.h"
#include "GzipFile.h"
#include "Manifest.h"
#include "OpenBackupStore.h"
#include "Progress.h"
#include "ToolError.h"

#include <ctime>
#include <memory>

namespace cosmosbackup {
namespace {

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

nlohmann::json ParseServiceJson(const std::string& text, const std::string& what) {
    try {
        return text.empty() ? nlohmann::json::object() : nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& e) {
        throw ToolError("the service's " + what + " is not JSON: " + e.what());
    }
}

// The whole container definition and its throughput layout.
void DescribeWhole(Connection& connection, Manifest& manifest) {
    const auto j = connection.ContainerInfo(manifest.sourceDatabase + "/" + manifest.sourceContainer);
    manifest.container = j["container"];
    try {
        j["throughput"].get_to(manifest.throughput);
    } catch (const nlohmann::json::exception& e) {
        throw ToolError(std::string("the wrapper's throughput layout is not readable: ") + e.what());
    }
}

// Describes the container into the manifest: partition key, indexing, throughput, TTL, the
// whole definition, scripts.
void Describe(Connection& connection, Manifest& manifest) {
    auto& bridge = connection.bridge();
    std::string partitionKey, indexing;
    CloudSDKCppBridge::CosmosDBThroughput throughput{};
    connection.Require(bridge.DescribeCosmosDBContainer(partitionKey, throughput, indexing), "cannot describe the container");
    manifest.partitionKey = ParseServiceJson(partitionKey, "partition key definition");
    manifest.indexingPolicy = ParseServiceJson(indexing, "indexing policy");
    manifest.defaultTtl = throughput.nValue2;
    DescribeWhole(connection, manifest);
    int scriptCount = 0;
    std::string scripts;
    connection.Require(bridge.BackupAttachedScripts(true, scriptCount, scripts), "cannot read the container's scripts");
    manifest.scripts = ParseServiceJson(scripts, "script list");
    manifest.scriptCount = scriptCount;
}

// Writes data files of at most `itemsPerFile` items each, recording each in the manifest.
class DataFileSink {
public:
    DataFileSink(BackupStore& store, std::int64_t itemsPerFile, Manifest& manifest)
        : m_store(store), m_itemsPerFile(itemsPerFile), m_manifest(manifest) {}

    void Write(const std::string& item) {
        if (!m_writer || m_current.items >= m_itemsPerFile) Rotate();
        m_writer->WriteLine(item);
        ++m_current.items;
    }

    void Finish() {
        if (!m_writer) Rotate();  // an empty container still gets one (empty) data file
        Seal();
    }

private:
    void Rotate() {
        if (m_writer) Seal();
        m_current = DataFile{DataFileName(static_cast<int>(m_manifest.files.size())), 0, 0, {}};
        m_writer = std::make_unique<GzipLineWriter>(m_store, m_current.name);
    }

    void Seal() {
        const StoredBytes stored = m_writer->Close();
        m_writer.reset();
        m_current.bytes = stored.bytes;  // committed, so durable before the manifest that vouches for it
        m_current.crc32 = stored.crc32;
        m_manifest.files.push_back(m_current);
        m_manifest.itemCount += m_current.items;
    }

    BackupStore& m_store;
    std::int64_t m_itemsPerFile;
    Manifest& m_manifest;
    DataFile m_current;
    std::unique_ptr<GzipLineWriter> m_writer;
};

}  // namespace

BackupSummary RunBackup(Connection& connection, const std::string& endpoint, const BackupOptions& options) {
    auto& bridge = connection.bridge();
    connection.Require(bridge.OpenCosmosDBContainer("", options.database, false, options.container, ""),
                       "cannot open " + options.database + "/" + options.container);
    const auto store = OpenBackupStore(options.directory);
    store->CreateNew();

    Manifest manifest;
    manifest.createdAt = UtcNow();
    manifest.sourceEndpoint = endpoint;
    manifest.sourceDatabase = options.database;
    manifest.sourceContainer = options.container;
    Describe(connection, manifest);

    BackupSummary summary;
    connection.Require(bridge.CountItems(summary.countedBefore), "cannot count the container's items");

    DataFileSink sink(*store, options.itemsPerFile, manifest);
    Progress progress("backup", summary.countedBefore);
    // Range by range: each partition key range is a token that the wrapper reads on its own.
    std::vector<CloudSDKCppBridge::SString> tokens;
    connection.Require(bridge.GetCosmosDBTokens(0, tokens), "cannot read the container's partition key ranges");
    std::vector<CloudSDKCppBridge::SString> page;
    std::int64_t read = 0;
    for (const auto& token : tokens) {
        std::string continuation = token.strValue, next;
        bool more = true;
        while (more) {
            page.clear();
            if (!bridge.GetCosmosDBData(continuation, options.pageSize, next, more, page)) {
                connection.Require(false, "cannot read the items after " + std::to_string(read) + " of them");
            }
            for (const auto& item : page) sink.Write(item.strValue);
            read += static_cast<std::int64_t>(page.size());
            progress.Add(static_cast<std::int64_t>(page.size()));
            continuation = next;
        }
    }
    sink.Finish();
    summary.seconds = progress.Finish();
    WriteManifest(*store, manifest);

    summary.items = manifest.itemCount;
    summary.layout = manifest.throughput;
    summary.scripts = manifest.scriptCount;
    summary.files = static_cast<int>(manifest.files.size());
    for (const auto& f : manifest.files) summary.bytes += f.bytes;
    return summary;
}

}  // namespace cosmosbackup
