#include "storage/BlobStore.h"

#include "storage/BlobFileReader.h"
#include "storage/BlobFileWriter.h"
#include "support/ToolError.h"

#include <libxml/parser.h>

#include <algorithm>
#include <mutex>
#include <random>

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

BlobStore::BlobStore(BlobLocation location, BlobCredentials credentials, RetryPolicy retry, const std::string& proxy,
                     std::size_t blockSize, LeaseTiming lease)
    : m_client(std::make_shared<const BlobClient>(std::move(location), std::move(credentials), retry, proxy)),
      m_blockSize(blockSize),
      m_lease(lease) {
    // libxml2 wants its set-up done once, before threads parse at the same time.
    static std::once_flag once;
    std::call_once(once, xmlInitParser);
}

BlobStore::BlobStore(std::shared_ptr<const BlobClient> client, std::size_t blockSize, LeaseTiming lease)
    : m_client(std::move(client)), m_blockSize(blockSize), m_lease(lease) {}

std::unique_ptr<BackupStore> BlobStore::Below(const std::string& name) const {
    RequirePlainName(name);
    return std::unique_ptr<BackupStore>(new BlobStore(m_client->Under(name), m_blockSize, m_lease));
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
        if (isBlob && IsLockName(name) && name.find('/') == std::string::npos) continue;  // a lock, no file of the backup
        files.push_back(StoredFile{name, isBlob ? SizeOf(node, Describe()) : 0, isBlob && name.find('/') == std::string::npos,
                                   Text(Child(Child(node, "Properties"), "Content-MD5"))});
    }
    marker = Text(Child(root, "NextMarker"));
    return files;
}

void BlobStore::RefuseImmutableContainer() const {
    const auto& location = m_client->location();
    // A SAS token may lack the right to read the container's properties: then the first
    // overwrite would say BlobImmutableDueToPolicy instead.
    const auto response = m_client->Call(BlobCall{"HEAD", location.ContainerPath(), {{"restype", "container"}}, {}, {}},
                                         "examine the container of " + Describe(), {403});
    if (response.status == 403) return;
    for (const char* flag : {"x-ms-has-immutability-policy", "x-ms-has-legal-hold", "x-ms-immutable-storage-with-versioning-enabled"}) {
        const auto found = response.headers.find(flag);
        if (found != response.headers.end() && found->second == "true") {
            throw ToolError("the container " + location.container + " of storage account " + location.account +
                            " has an immutability (WORM) policy or a legal hold: a backup rewrites and removes its "
                            "checkpoints, which such a container forbids; back up into a container without one");
        }
    }
}

void BlobStore::CreateNew() {
    RefuseImmutableContainer();
    // Pages of a few: the location's locks are not shown, and a page may hold only them.
    std::string marker;
    do {
        if (!ListPage(true, 5, marker).empty()) throw ToolError(Describe() + " is not empty; give a new prefix for the backup");
    } while (!marker.empty());
}

bool BlobStore::CreateExclusive(const std::string& name, const std::string& content) {
    RequirePlainName(name);
    // The claim tells this run's blob from another's when a lost answer makes the retry meet it.
    std::random_device random;
    const std::string claim = std::to_string(random()) + std::to_string(random()) + std::to_string(random());
    BlobCall call{"PUT", m_client->location().PathOf(name), {}, {{"x-ms-blob-type", "BlockBlob"}, {"if-none-match", "*"}}, content};
    call.headers["content-md5"] = Md5::OfBase64(content.data(), content.size());
    call.headers["x-ms-blob-content-md5"] = call.headers["content-md5"];
    call.headers["x-ms-meta-claim"] = claim;
    auto response = m_client->Call(call, "create " + name, {409, 412});
    if (response.status == 409 || response.status == 412) {
        response = m_client->Call(BlobCall{"HEAD", m_client->location().PathOf(name), {}, {}, {}}, "read " + name, {404});
        const auto found = response.headers.find("x-ms-meta-claim");
        if (response.status == 404 || found == response.headers.end() || found->second != claim) return false;
    }
    const auto etag = response.headers.find("etag");
    m_pins->Moved(name, etag == response.headers.end() ? "" : etag->second);
    return true;
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
    auto reader = std::make_unique<BlobFileReader>(m_client, name, m_pins->Of(name));
    m_pins->Check(name, reader->etag(), Describe());
    return reader;
}

std::unique_ptr<StoredFileWriter> BlobStore::OpenWrite(const std::string& name) {
    return std::make_unique<BlobFileWriter>(m_client, name, m_blockSize,
                                            [pins = m_pins, name](const std::string& etag) { pins->Moved(name, etag); });
}

void BlobStore::Remove(const std::string& name) {
    m_client->Call(BlobCall{"DELETE", m_client->location().PathOf(name), {}, {}, {}}, "remove " + name, {404});
    m_pins->Forget(name);
}

std::unique_ptr<StoreLock> BlobStore::TryLock(const std::string& name, const std::string& owner, std::string& holder) {
    RequireLockName(name);
    return TryLeaseBlob(m_client, name, owner, holder, m_lease);
}

}  // namespace cosmosbackup
