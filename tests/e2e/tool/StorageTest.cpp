// Where a backup lives: the local directory and the blob prefix, the latter against a real
// local storage server (run under with-azurite.sh, which exports its endpoint, account and key).
#include "StoreFiles.h"
#include "TempDir.h"
#include "storage/BlobClient.h"
#include "storage/BlobFileWriter.h"
#include "storage/BlobStore.h"
#include "storage/Digest.h"
#include "storage/DirectoryStore.h"
#include "storage/LockOwner.h"
#include "storage/LoopbackHost.h"
#include "storage/OpenBackupStore.h"
#include "storage/SharedKey.h"
#include "support/ToolError.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <regex>

using namespace cosmosbackup;
namespace fs = std::filesystem;

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string Names(const std::vector<StoredFile>& files) {
    std::string names;
    for (const auto& f : files) names += f.name + (f.plain ? ":" + std::to_string(f.size) : "(not plain)") + " ";
    return names;
}

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ToolError& e) {
        return e.what();
    }
    return "(no error)";
}

// What every store must do alike: files appear whole on Commit only, come back byte for byte,
// list in name order, and a location that holds anything is not taken for a new backup.
// `addOddEntries` puts entries beside the files that are not plain files: they must list as such.
// `other` is a second store on the same location, as another process would open it.
void ExerciseStore(BackupStore& store, BackupStore& other, const std::function<void()>& addOddEntries, const std::string& oddNames) {
    store.CreateNew();
    addOddEntries();
    const std::string big = PseudorandomBytes(300'000, 1);
    WriteFile(store, "items-00000.jsonl.gz", big);
    WriteFile(store, "empty", "");
    {
        auto abandoned = store.OpenWrite("manifest.json");
        abandoned->Write("{}", 2);
    }  // dropped without Commit
    EXPECT_EQ("empty:0 items-00000.jsonl.gz:300000 " + oddNames, Names(store.List()));
    EXPECT_EQ(big, ReadFile(store, "items-00000.jsonl.gz"));
    EXPECT_EQ("", ReadFile(store, "empty"));
    EXPECT_NE(std::string::npos, ErrorOf([&] { store.CreateNew(); }).find("not empty"));
    EXPECT_NE("(no error)", ErrorOf([&] { store.OpenRead("manifest.json"); }));
    EXPECT_NE(std::string::npos, ErrorOf([&] { store.OpenRead("../x"); }).find("not a plain file name"));

    WriteFile(store, "empty", "now with content");  // replaced whole
    EXPECT_EQ("now with content", ReadFile(store, "empty"));
    store.Remove("empty");
    store.Remove("empty");  // gone already: not an error
    EXPECT_EQ("items-00000.jsonl.gz:300000 " + oddNames, Names(store.List()));

    // Replaced while it is read, as an increment rewrites a data file it reads: the reader
    // sees the old file to its end, and the new one shows from the commit on.
    auto reader = store.OpenRead("items-00000.jsonl.gz");
    std::string old(1000, '\0');
    old.resize(reader->Read(old.data(), old.size()));
    auto writer = store.OpenWrite("items-00000.jsonl.gz");
    writer->Write("new", 3);
    char buffer[10000];
    while (const auto n = reader->Read(buffer, sizeof buffer)) old.append(buffer, n);
    writer->Commit();
    EXPECT_EQ(big, old);
    EXPECT_EQ("new", ReadFile(store, "items-00000.jsonl.gz"));

    // Replaced by another process after this store read it: never read again.
    WriteFile(other, "items-00000.jsonl.gz", "replaced");
    EXPECT_NE(std::string::npos, ErrorOf([&] { ReadFile(store, "items-00000.jsonl.gz"); }).find("was replaced")) ;
    EXPECT_EQ("replaced", ReadFile(other, "items-00000.jsonl.gz"));

    // A claim: exactly one of two stores gets a name, and it holds the winner's content.
    EXPECT_TRUE(store.CreateExclusive("checkpoint.json", "first"));
    EXPECT_FALSE(other.CreateExclusive("checkpoint.json", "second"));
    EXPECT_FALSE(store.CreateExclusive("checkpoint.json", "third"));
    EXPECT_EQ("first", ReadFile(other, "checkpoint.json"));
    EXPECT_EQ("first", ReadFile(store, "checkpoint.json"));
}

}  // namespace

TEST(SharedKey, StringToSignMatchesTheDocumentedExample) {
    // The service's documented Get Container Metadata example against the local emulator path.
    StorageRequest request{"GET", "/myaccount/mycontainer", {{"restype", "container"}, {"comp", "metadata"}, {"timeout", "20"}},
                           {{"x-ms-date", "Sun, 11 Oct 2009 21:49:13 GMT"}, {"x-ms-version", "2009-09-19"}}, 0};
    EXPECT_EQ("GET\n\n\n\n\n\n\n\n\n\n\n\nx-ms-date:Sun, 11 Oct 2009 21:49:13 GMT\nx-ms-version:2009-09-19\n"
              "/myaccount/myaccount/mycontainer\ncomp:metadata\nrestype:container\ntimeout:20",
              SharedKeyStringToSign("myaccount", request));
    // A body's length and MD5 take their places; HMAC-SHA256 as RFC 4231 test case 2.
    request = StorageRequest{"PUT", "/c/b", {}, {{"content-md5", "Q2hlY2sgSW50ZWdyaXR5IQ=="}}, 11};
    EXPECT_EQ("PUT\n\n\n11\nQ2hlY2sgSW50ZWdyaXR5IQ==\n\n\n\n\n\n\n\n/a/c/b", SharedKeyStringToSign("a", request));
    EXPECT_EQ("W9zBRr9gdU5qBCQmCJV1x1oAPwidJzmDnexYuWTsOEM=", EncodeBase64(HmacSha256("Jefe", "what do ya want for nothing?")));
}

TEST(BlobLocation, BothUrlFormsAndWhatIsRefused) {
    unsetenv("AZURE_STORAGE_ACCOUNT");
    auto hosted = ParseBlobLocation("https://acct.blob.core.windows.net/backups/shop/orders-1/");
    EXPECT_EQ("acct", hosted.account);
    EXPECT_EQ("backups", hosted.container);
    EXPECT_EQ("shop/orders-1/", hosted.prefix);
    EXPECT_EQ("/backups/shop/orders-1/manifest.json", hosted.PathOf("manifest.json"));
    auto local = ParseBlobLocation("http://127.0.0.1:10000/devacct/backups");
    EXPECT_EQ("devacct", local.account);
    EXPECT_EQ("", local.prefix);
    EXPECT_EQ("http://127.0.0.1:10000", local.endpoint);
    EXPECT_EQ("/devacct/backups/a%20b", local.PathOf("a b"));

    EXPECT_NE(std::string::npos, ErrorOf([] { ParseBlobLocation("https://a.blob.core.windows.net/c1c/p?sv=1&sig=SECRET"); }).find("never on the command line"));
    EXPECT_EQ(std::string::npos, ErrorOf([] { ParseBlobLocation("https://a.blob.core.windows.net/c1c/p?sv=1&sig=SECRET"); }).find("SECRET"));
    EXPECT_NE(std::string::npos, ErrorOf([] { ParseBlobLocation("http://a.blob.core.windows.net/c1c/p"); }).find("https"));
    EXPECT_NE(std::string::npos, ErrorOf([] { ParseBlobLocation("https://a.blob.core.windows.net/Bad_Name/p"); }).find("container"));
    EXPECT_NE(std::string::npos, ErrorOf([] { ParseBlobLocation("https://a.blob.core.windows.net/ccc/../p"); }).find("relative"));
    setenv("AZURE_STORAGE_ACCOUNT", "other", 1);
    EXPECT_NE(std::string::npos, ErrorOf([] { ParseBlobLocation("https://a.blob.core.windows.net/ccc/p"); }).find("AZURE_STORAGE_ACCOUNT"));
    EXPECT_EQ("other", ParseBlobLocation("https://backups.example.com/ccc/p").account);
    unsetenv("AZURE_STORAGE_ACCOUNT");

    // Prefixes as the portal prints them are decoded once.
    EXPECT_EQ("My Backup/100%/", ParseBlobLocation("https://a.blob.core.windows.net/ccc/My%20Backup/100%25").prefix);
    EXPECT_EQ("x%20y/", ParseBlobLocation("https://a.blob.core.windows.net/ccc/x%2520y").prefix);
    EXPECT_NE(std::string::npos, ErrorOf([] { ParseBlobLocation("https://a.blob.core.windows.net/ccc/%2E%2E/p"); }).find("relative"));
    EXPECT_NE(std::string::npos, ErrorOf([] { ParseBlobLocation("https://a.blob.core.windows.net/ccc/a%2Fb"); }).find("separator"));
    EXPECT_NE(std::string::npos, ErrorOf([] { ParseBlobLocation("https://a.blob.core.windows.net/ccc/50%"); }).find("escape"));
}

TEST(BlobLocation, PlainHttpOnlyToALoopbackAddress) {
    for (const char* host : {"127.0.0.1", "127.9.8.7", "localhost", "LocalHost", "[::1]", "[::ffff:127.0.0.1]"}) {
        EXPECT_TRUE(IsLoopbackHost(host)) << host;
    }
    for (const char* host : {"127.attacker.example", "127.0.0.1.nip.io", "127.1", "0177.0.0.1", "128.0.0.1", "10.0.0.1",
                             "localhost.example", "[::2]", "[::ffff:10.0.0.1]", "::1", ""}) {
        EXPECT_FALSE(IsLoopbackHost(host)) << host;
    }
    EXPECT_NE(std::string::npos, ErrorOf([] { ParseBlobLocation("http://127.attacker.example:10000/acct/ccc/p"); }).find("https"));
    EXPECT_TRUE(ParseBlobLocation("http://[::1]:10000/acct/ccc/p").loopback);
}

TEST(DirectoryStore, KeepsTheStoreContractAndRefusesLinksAndOddFiles) {
    TempDir temp;
    const std::string path = temp.path() + "/backup";
    DirectoryStore store(path), other(path);
    ExerciseStore(store, other, [&] {
        fs::create_directory(path + "/sub");
        fs::create_symlink(path + "/items-00000.jsonl.gz", path + "/link");
    }, "link(not plain) sub(not plain) ");
    EXPECT_NE(std::string::npos, ErrorOf([&] { store.OpenRead("link"); }).find("symbolic link"));
    EXPECT_NE(std::string::npos, ErrorOf([&] { store.OpenRead("sub"); }).find("not a regular file"));
    EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write, fs::status(path + "/items-00000.jsonl.gz").permissions());
}

// Runs before any test starts a thread, so that the forked child inherits no held mutex.
TEST(DirectoryLock, OneHolderAcrossStoresAndProcessesFreedWhenItEnds) {
    TempDir temp;
    const std::string path = temp.path() + "/backup";  // not there yet: the lock creates it
    DirectoryStore first(path), second(path);
    std::string holder;
    const std::string owner = DescribeThisProcess();
    EXPECT_TRUE(std::regex_match(owner, std::regex("host [^,]+, pid " + std::to_string(::getpid()) +
                                                   ", since \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ"))) << owner;
    auto lock = first.TryLock(kLockFileName, owner, holder);
    ASSERT_TRUE(lock);
    EXPECT_EQ(nullptr, second.TryLock(kLockFileName, "a second run", holder));
    EXPECT_EQ(owner, holder);
    // The lock is no file of the backup, and a location holding only it is still new.
    EXPECT_EQ("", Names(second.List()));
    EXPECT_NO_THROW(second.CreateNew());
    lock.reset();
    ASSERT_TRUE(second.TryLock(kLockFileName, "a second run", holder));

    int ready[2];
    ASSERT_EQ(0, ::pipe(ready));
    const pid_t child = ::fork();
    if (child == 0) {
        DirectoryStore own(path);
        std::string theirs;
        auto held = own.TryLock(kLockFileName, "child", theirs);
        const char locked = held ? '1' : '0';
        if (::write(ready[1], &locked, 1) == 1) ::pause();
        ::_exit(0);
    }
    char locked = 0;
    ASSERT_EQ(1, ::read(ready[0], &locked, 1));
    EXPECT_EQ('1', locked);
    EXPECT_EQ(nullptr, first.TryLock(kLockFileName, "parent", holder));
    EXPECT_EQ("child", holder);  // the shorter text replaced the longer one whole
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(first.TryLock(kLockFileName, "parent", holder));
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(DirectoryLock, RefusesALinkOrAnOddFileInTheLocksPlaceAndNamesThatAreNoLocks) {
    TempDir temp;
    DirectoryStore store(temp.path());
    std::string holder;
    fs::create_symlink(temp / "elsewhere", temp / "link.lock");
    EXPECT_NE(std::string::npos, ErrorOf([&] { store.TryLock("link.lock", "me", holder); }).find("symbolic link"));
    EXPECT_FALSE(fs::exists(temp / "elsewhere"));
    fs::create_directory(temp / "dir.lock");
    EXPECT_NE("(no error)", ErrorOf([&] { store.TryLock("dir.lock", "me", holder); }));
    EXPECT_EQ("dir.lock(not plain) link.lock(not plain) ", Names(store.List()));
    EXPECT_NE(std::string::npos, ErrorOf([&] { store.TryLock("manifest.json", "me", holder); }).find("no lock's name"));
    EXPECT_NE(std::string::npos, ErrorOf([&] { store.TryLock("../x.lock", "me", holder); }).find("not a plain file name"));
}

// A local HTTP server that answers each request, on a connection of its own, with the next
// of its scripted answers (the last one repeats).
class ScriptedServer {
public:
    explicit ScriptedServer(std::vector<std::string> answers) : m_answers(std::move(answers)) {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), size);
        ::listen(m_socket, 8);
        ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &size);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~ScriptedServer() {
        ::shutdown(m_socket, SHUT_RDWR);
        ::close(m_socket);
        m_thread.join();
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/acct/ccc/p"; }
    int requests() const { return m_requests; }

private:
    void Serve() {
        while (true) {
            const int connection = ::accept(m_socket, nullptr, nullptr);
            if (connection < 0) return;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const auto got = ::recv(connection, buffer, sizeof buffer, 0);
                if (got <= 0) break;
                request.append(buffer, static_cast<std::size_t>(got));
            }
            const auto& answer = m_answers[std::min<std::size_t>(m_requests++, m_answers.size() - 1)];
            const std::string text = answer + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            ::send(connection, text.data(), text.size(), MSG_NOSIGNAL);
            ::close(connection);
        }
    }

    std::vector<std::string> m_answers;
    int m_socket;
    int m_port = 0;
    std::atomic<int> m_requests{0};
    std::thread m_thread;
};

TEST(BlobClient, RetriesWhileTheServiceIsBusyAndGivesUpOnARefusalAtOnce) {
    const RetryPolicy quick{std::chrono::milliseconds(12), std::chrono::milliseconds(4), std::chrono::milliseconds(4)};
    const BlobCredentials credentials{"acct", "key", ""};
    const BlobCall list{"GET", "/acct/ccc", {{"restype", "container"}}, {}, {}};
    {
        ScriptedServer server({"HTTP/1.1 503 Server Busy", "HTTP/1.1 500 Internal Error", "HTTP/1.1 200 OK"});
        EXPECT_EQ(200, BlobClient(ParseBlobLocation(server.Url()), credentials, quick).Call(list, "list").status);
        EXPECT_EQ(3, server.requests());
    }
    {
        ScriptedServer server({"HTTP/1.1 503 Server Busy\r\nx-ms-error-code: ServerBusy"});
        const auto message = ErrorOf([&] { BlobClient(ParseBlobLocation(server.Url()), credentials, quick).Call(list, "list"); });
        EXPECT_NE(std::string::npos, message.find("attempts over 0 s (--max-retry-wait 0 s): HTTP 503 ServerBusy")) << message;
        EXPECT_LE(4, server.requests());
    }
    {
        ScriptedServer server({"HTTP/1.1 403 Forbidden\r\nx-ms-error-code: AuthenticationFailed"});
        const auto message = ErrorOf([&] { BlobClient(ParseBlobLocation(server.Url()), credentials, quick).Call(list, "list"); });
        EXPECT_NE(std::string::npos, message.find("refused the credentials (HTTP 403 AuthenticationFailed)")) << message;
        EXPECT_EQ(1, server.requests());
    }
    {
        // Retry-After is waited out, even past the back-off's own ceiling.
        ScriptedServer server({"HTTP/1.1 503 Server Busy\r\nRetry-After: 1", "HTTP/1.1 200 OK"});
        const auto start = std::chrono::steady_clock::now();
        const RetryPolicy patient{std::chrono::seconds(2), std::chrono::milliseconds(1), std::chrono::milliseconds(5)};
        EXPECT_EQ(200, BlobClient(ParseBlobLocation(server.Url()), credentials, patient).Call(list, "list").status);
        EXPECT_LE(std::chrono::seconds(1), std::chrono::steady_clock::now() - start);
    }
    {
        // Nothing listens there: a refused connection is not retried.
        const std::string url = "http://127.0.0.1:1/acct/ccc/p";
        const RetryPolicy patient{std::chrono::seconds(30), std::chrono::milliseconds(1000), std::chrono::milliseconds(1000)};
        const auto start = std::chrono::steady_clock::now();
        const auto message = ErrorOf([&] { BlobClient(ParseBlobLocation(url), credentials, patient).Call(list, "list"); });
        EXPECT_NE(std::string::npos, message.find("connect")) << message;
        EXPECT_GT(std::chrono::seconds(1), std::chrono::steady_clock::now() - start);
    }
}

TEST(BlobFileWriter, AFailedBlockIsTheWritersErrorAndNeverEndsTheProcess) {
    const BlobCredentials credentials{"acct", "key", ""};
    ScriptedServer server({"HTTP/1.1 201 Created", "HTTP/1.1 403 Forbidden\r\nx-ms-error-code: AuthorizationPermissionMismatch"});
    auto client = std::make_shared<const BlobClient>(ParseBlobLocation(server.Url()), credentials, RetryPolicy{});
    std::string message;
    {
        BlobFileWriter writer(client, "items-r0000-00000.jsonl.gz", 1024);
        const std::string block(1024, 'x');
        message = ErrorOf([&] {
            for (int i = 0; i < 20; ++i) writer.Write(block.data(), block.size());
            writer.Commit();
        });
        EXPECT_NE(std::string::npos, ErrorOf([&] { writer.Commit(); }).find("cannot upload")) << "the writer is spent";
    }  // destroyed with failed and running uploads: must not terminate
    EXPECT_NE(std::string::npos, message.find("cannot upload items-r0000-00000.jsonl.gz")) << message;
    EXPECT_NE(std::string::npos, message.find("lack a permission")) << message;
}

class BlobStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (Env("STORAGE_ENDPOINT").empty()) FAIL() << "run under tests/e2e/with-azurite.sh";
        m_base = Env("STORAGE_ENDPOINT") + "/" + Env("STORAGE_ACCOUNT") + "/";
        static int tests = 0;
        m_container = "c" + std::to_string(::getpid()) + "-" + std::to_string(++tests);
        auto location = ParseBlobLocation(m_base + m_container);
        BlobClient client(location, Credentials());
        client.Call(BlobCall{"PUT", location.ContainerPath(), {{"restype", "container"}}, {}, {}}, "create the container");
    }

    BlobCredentials Credentials(const std::string& keyText = Env("AZURE_STORAGE_KEY")) const {
        BlobCredentials credentials{Env("STORAGE_ACCOUNT"), "", ""};
        DecodeBase64(keyText, credentials.key);
        return credentials;
    }

    BlobStore Store(const std::string& prefix, const std::string& keyText = Env("AZURE_STORAGE_KEY")) const {
        // Small blocks, so that a file of a few hundred kilobytes takes several.
        return BlobStore(ParseBlobLocation(m_base + m_container + "/" + prefix), Credentials(keyText),
                         RetryPolicy{std::chrono::milliseconds(20), std::chrono::milliseconds(10), std::chrono::milliseconds(10)},
                         "", 64 << 10);
    }

    std::string m_base;
    std::string m_container;
};

TEST_F(BlobStoreTest, KeepsTheStoreContractUnderAPrefix) {
    auto store = Store("backups/orders"), other = Store("backups/orders");
    ExerciseStore(store, other, [&] {
        auto deeper = Store("backups/orders/sub");
        WriteFile(deeper, "x", "1234");
    }, "sub(not plain) ");
    auto root = Store("");
    EXPECT_EQ("backups(not plain) ", Names(root.List()));
}

TEST_F(BlobStoreTest, ABlobThatDoesNotMatchItsStoredMd5IsRefused) {
    auto store = Store("p");
    auto location = ParseBlobLocation(m_base + m_container + "/p");
    BlobClient client(location, Credentials());
    // Blocks whose bytes differ from what the committed MD5 describes, as a bit flip at rest would.
    const std::string path = location.PathOf("items-00000.jsonl.gz"), id = EncodeBase64("block-0");
    client.Call(BlobCall{"PUT", path, {{"comp", "block"}, {"blockid", id}}, {}, "damaged bytes"}, "put a block");
    BlobCall list{"PUT", path, {{"comp", "blocklist"}}, {}, "<BlockList><Latest>" + id + "</Latest></BlockList>"};
    list.headers["x-ms-blob-content-md5"] = Md5::OfBase64("original bytes", 14);
    client.Call(list, "commit the block");
    EXPECT_NE(std::string::npos, ErrorOf([&] { ReadFile(store, "items-00000.jsonl.gz"); }).find("does not match its stored MD5"));
}

TEST_F(BlobStoreTest, WrongKeyAndMissingContainerSayWhatIsWrongAndNeverShowTheKey) {
    const std::string wrongKey = EncodeBase64(PseudorandomBytes(32, 7));
    auto wrong = Store("p", wrongKey);
    const auto refused = ErrorOf([&] { wrong.List(); });
    EXPECT_NE(std::string::npos, refused.find("refused the credentials")) << refused;
    EXPECT_NE(std::string::npos, refused.find(Env("STORAGE_ACCOUNT"))) << refused;

    BlobStore missing(ParseBlobLocation(m_base + "no-such-container/p"), Credentials());
    const auto notThere = ErrorOf([&] { missing.CreateNew(); });
    EXPECT_NE(std::string::npos, notThere.find("container no-such-container does not exist")) << notThere;
    for (const auto& message : {refused, notThere}) {
        EXPECT_EQ(std::string::npos, message.find(wrongKey));
        EXPECT_EQ(std::string::npos, message.find(Env("AZURE_STORAGE_KEY")));
    }
}

// An account SAS (blob service; read, write, delete, list), signed as the account's owner
// would sign it (version 2019-12-12 form).
std::string AccountSas(const std::string& account, const std::string& key) {
    const std::string permissions = "rwdl", version = "2019-12-12", expiry = "2099-01-01T00:00:00Z";
    const std::string toSign = account + "\n" + permissions + "\nb\nsco\n\n" + expiry + "\n\n\n" + version + "\n";
    std::string signature;
    for (const char c : EncodeBase64(HmacSha256(key, toSign))) {
        signature += c == '+' ? "%2B" : c == '/' ? "%2F" : c == '=' ? "%3D" : std::string(1, c);
    }
    return "sv=" + version + "&ss=b&srt=sco&sp=" + permissions + "&se=" + expiry + "&sig=" + signature;
}

TEST_F(BlobStoreTest, ASasTokenComesFromAnOwnerOnlyFileOrTheEnvironment) {
    TempDir temp;
    const std::string file = temp.path() + "/sas";
    const std::string url = m_base + m_container + "/p";
    { std::ofstream(file) << "?" << AccountSas(Env("STORAGE_ACCOUNT"), Credentials().key) << "\n"; }
    setenv("AZURE_STORAGE_SAS_FILE", file.c_str(), 1);
    chmod(file.c_str(), 0644);
    EXPECT_NE(std::string::npos, ErrorOf([&] { OpenBackupStore(url); }).find("chmod 600"));
    chmod(file.c_str(), 0600);
    auto store = OpenBackupStore(url);
    unsetenv("AZURE_STORAGE_SAS_FILE");
    WriteFile(*store, "f", "content");
    EXPECT_EQ("content", ReadFile(*OpenBackupStore(url), "f"));  // the key from AZURE_STORAGE_KEY

    const std::string forged = "sv=2019-12-12&ss=b&srt=sco&sp=rl&se=2099-01-01T00:00:00Z&sig=Zm9yZ2Vk";
    setenv("AZURE_STORAGE_SAS_TOKEN", forged.c_str(), 1);
    const auto refused = ErrorOf([&] { OpenBackupStore(url)->List(); });
    unsetenv("AZURE_STORAGE_SAS_TOKEN");
    EXPECT_NE(std::string::npos, refused.find("refused the credentials")) << refused;
    EXPECT_EQ(std::string::npos, refused.find("Zm9yZ2Vk")) << refused;
}

// A lock of a blob store whose lease lasts 15 s (the shortest the service allows), renewed every 5 s.
class BlobLockTest : public BlobStoreTest {
protected:
    BlobStore ShortLeaseStore(const std::string& prefix) const {
        return BlobStore(ParseBlobLocation(m_base + m_container + "/" + prefix), Credentials(), RetryPolicy{}, "",
                         BlobStore::kDefaultBlockSize, LeaseTiming{std::chrono::seconds(15), std::chrono::seconds(5)});
    }
};

TEST_F(BlobLockTest, ASecondRunIsRefusedNamingTheHolderUntilTheLockIsReleased) {
    auto store = Store("locked"), other = Store("locked");
    std::string holder;
    auto lock = store.TryLock(kLockFileName, "host a, pid 1, since 2026-12-08T15:30:00Z", holder);
    ASSERT_TRUE(lock);
    EXPECT_EQ(nullptr, other.TryLock(kLockFileName, "host b, pid 2", holder));
    EXPECT_EQ("host a, pid 1, since 2026-12-08T15:30:00Z", holder);
    EXPECT_EQ("", Names(other.List()));
    EXPECT_NO_THROW(other.CreateNew());  // the lock alone does not make the location taken
    lock.reset();
    auto next = other.TryLock(kLockFileName, "host b, pid 2", holder);
    ASSERT_TRUE(next);
    EXPECT_NO_THROW(next->RequireHeld());
}

TEST_F(BlobLockTest, RenewalKeepsTheLeasePastItsDurationAndABrokenLeaseIsALostLock) {
    auto store = ShortLeaseStore("renewed"), other = ShortLeaseStore("renewed");
    std::string holder;
    auto lock = store.TryLock(kLockFileName, "first", holder);
    ASSERT_TRUE(lock);
    std::this_thread::sleep_for(std::chrono::seconds(20));
    EXPECT_NO_THROW(lock->RequireHeld());
    EXPECT_EQ(nullptr, other.TryLock(kLockFileName, "second", holder));
    EXPECT_EQ("first", holder);

    BlobClient client(ParseBlobLocation(m_base + m_container + "/renewed"), Credentials());
    client.Call(BlobCall{"PUT", client.location().PathOf(kLockFileName), {{"comp", "lease"}},
                         {{"x-ms-lease-action", "break"}, {"x-ms-lease-break-period", "0"}}, {}},
                "break the lease");
    // The next renewal, within 5 s, finds the lease broken.
    std::string message = "(no error)";
    for (int tries = 0; tries < 60 && message == "(no error)"; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        message = ErrorOf([&] { lock->RequireHeld(); });
    }
    EXPECT_NE(std::string::npos, message.find("lost the lock on " + store.Describe())) << message;
    EXPECT_TRUE(other.TryLock(kLockFileName, "second", holder));
}
