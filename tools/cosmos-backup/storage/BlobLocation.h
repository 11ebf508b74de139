#pragma once

#include <string>

namespace cosmosbackup {

// A blob prefix named by a URL, split into what requests need.
struct BlobLocation {
    std::string url;        // as given, for messages (it holds no credentials)
    std::string endpoint;   // scheme://host[:port], without a path
    std::string account;
    std::string container;
    std::string prefix;     // "" or ending in '/': the backup's files are prefix + name
    bool pathStyle = false; // the account is the first path segment (a local storage server)
    bool loopback = false;  // the host is this machine's loopback interface

    // The request path of a blob of the backup, or of the container when `name` is empty;
    // percent-encoded as sent, which is also how the shared key signature takes it.
    std::string PathOf(const std::string& name) const;
    std::string ContainerPath() const;
};

// Accepts https://ACCOUNT.blob.core.windows.net/CONTAINER[/PREFIX] (any host whose second label
// is "blob"), a custom host when AZURE_STORAGE_ACCOUNT names the account, and the path-style
// http(s)://HOST:PORT/ACCOUNT/CONTAINER[/PREFIX] of a local storage server. Plain http is taken
// for loopback hosts only (IsLoopbackHost). A URL carrying a query (a SAS token) or user
// information is refused: credentials never go on the command line. The prefix is
// percent-decoded once, as the portal and other storage tools print it ("My%20Backup" names the
// blobs "My Backup/…").
BlobLocation ParseBlobLocation(const std::string& url);

// Percent-encodes everything but unreserved characters (and '/' when `keepSlashes`).
std::string PercentEncode(const std::string& text, bool keepSlashes);
inline std::string EncodePath(const std::string& path) { return PercentEncode(path, true); }

}  // namespace cosmosbackup
