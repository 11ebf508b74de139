#include "storage/BlobStore.h"

#include "storage/BlobFileReader.h"
#include "storage/BlobFileWriter.h"
#include "support/ToolError.h"

#include <libxml/parser.h>

#include <algorithm>
#include <mutex>

namespace cosmosbackup {
namespace {

using XmlDocument = std::unique_ptr<xmlDoc, void (*)(xmlDoc*)>;

const xmlNode* Child(const xmlNode* parent, const char* name) {
    for (const xmlNode* node = parent ? parent->children : nullptr; node != nullptr; node = node->next) {
        if (node->type == XML_ELEMENT_NODE && xmlStrcmp(node->name, BAD_CAST name) == 0) return node;
    }
    return nullptr;
}

std::string Text(const xmlNode* node) {
    if (node == nullptr) return {};
    std::unique_ptr<xmlChar, void (*)(void*)> text(xmlNodeGetContent(node), xmlFree);
    return text ? reinterpret_cast<const char*>(text.get()) : "";
}

std::int64_t SizeOf(const xmlNode* blob, const std::string& where) {
    const std::string text = Text(Child(Child(blob, "Properties"), "Content-Length"));
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 18) {
        throw ToolError("the blob list of " + where + " gives a blob no valid size");
    }
    return std::stoll(text);
}

}  // namespace

BlobStore::BlobStore(BlobLocation location, BlobCredentials credentials, std::size_t blockSize, RetryPolicy retry)
    : m_client(std::make_shared<const BlobClient>(std::move(location), std::move(credentials), retry)),
      m_blockSize(blockSize) {
    // libxml2 wants its set-up done once, before threads parse at the same time.
    static std::once_flag once;
    std::call_once(once, xmlInitParser);
}

BlobStore::BlobStore(std::shared_ptr<const BlobClient> client, std::size_t blockSize)
    : m_client(std::move(client)), m_blockSize(blockSize) {}

std::unique_ptr<BackupStore> BlobStore::Below(const std::string& name) const {
    RequirePlainName(name);
    return std::unique_ptr<BackupStore>(new BlobStore(m_client->Under(name), m_blockSize));
}

std::string BlobStore::Describe() const { return m_client->location().url; }

// One page of List Blobs under the prefix. `deep` lists every blob below it; otherwise
// deeper blobs show as one entry per sub-prefix, marked not plain.
std::vector<StoredFile> BlobStore::ListPage(bool deep, std::size_t pageSize, std::string& marker) const {
    const auto& location = m_client->location();
    BlobCall call{"GET", location.ContainerPath(), {{"restype", "container"}, {"comp", "list"}}, {}, {}, 64 << 20};
    call.query["maxresults"] = std::to_string(pageSize);
    if (!location.prefix.empty()) call.query["prefix"] = location.prefix;
    if (!deep) call.query["delimiter"] = "/";
    if (!marker.empty()) call.query["marker"] = marker;
    const auto response = m_client->Call(call, "list " + Describe());

    XmlDocument document(xmlReadMemory(response.body.data(), static_cast<int>(response.body.size()), nullptr, nullptr,
                                       XML_PARSE_NONET | XML_PARSE_NOBLANKS),
                         xmlFreeDoc);
    const xmlNode* root = document ? xmlDocGetRootElement(document.get()) : nullptr;
    if (root == nullptr) throw ToolError("the blob list of " + Describe() + " is not XML");
    std::vector<StoredFile> files;
    const xmlNode* blobs = Child(root, "Blobs");
    for (const xmlNode* node = blobs ? blobs->children : nullptr; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        const bool isBlob = xmlStrcmp(node->name, BAD_CAST "Blob") == 0;
        std::string name = Text(Child(node, "Name"));
        if (name.compare(0, location.prefix.size(), location.prefix) != 0) {
            throw ToolError("the blob list of " + Describe() + " names a blob outside it");
        }
        name.erase(0, location.prefix.size());
        if (!isBlob && !name.empty() && name.back() == '/') name.pop_back();
        files.push_back(StoredFile{name, isBlob ? SizeOf(node, Describe()) : 0, isBlob && name.find('/') == std::string::npos});
    }
    marker = Text(Child(root, "NextMarker"));
    return files;
}

void BlobStore::CreateNew() {
    std::string marker;
    if (!ListPage(true, 1, marker).empty()) throw ToolError(Describe() + " is not empty; give a new prefix for the backup");
}

std::vector<StoredFile> BlobStore::List() const {
    std::vector<StoredFile> files;
    std::string marker;
    do {
        auto page = ListPage(false, 5000, marker);
        files.insert(files.end(), page.begin(), page.end());
    } while (!marker.empty());
    std::sort(files.begin(), files.end(), [](const StoredFile& a, const StoredFile& b) { return a.name < b.name; });
    return files;
}

std::unique_ptr<StoredFileReader> BlobStore::OpenRead(const std::string& name) const {
    return std::make_unique<BlobFileReader>(m_client, name);
}

std::unique_ptr<StoredFileWriter> BlobStore::OpenWrite(const std::string& name) {
    return std::make_unique<BlobFileWriter>(m_client, name, m_blockSize);
}

void BlobStore::Remove(const std::string& name) {
    m_client->Call(BlobCall{"DELETE", m_client->location().PathOf(name), {}, {}, {}}, "remove " + name, {404});
}

}  // namespace cosmosbackup
