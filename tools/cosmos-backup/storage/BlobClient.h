#pragma once

#include "storage/BlobCredentials.h"
#include "storage/BlobLocation.h"
#include "storage/HttpClient.h"

#include <chrono>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>

namespace cosmosbackup {

// One request to the Blob service.
struct BlobCall {
    std::string method;
    std::string path;                            // percent-encoded request path
    std::map<std::string, std::string> query;    // decoded names (lower case) and values
    std::map<std::string, std::string> headers;  // lower-case names
    std::string body;
    std::size_t maxAnswer = 1 << 20;
};

// How often and how patiently a failed request is sent again.
struct RetryPolicy {
    int attempts = 6;
    std::chrono::milliseconds firstDelay{200};
    std::chrono::milliseconds maxDelay{8000};
};

// Sends authorised requests to one storage account: signs each attempt with the shared key
// (or appends the SAS token), retries with exponential back-off and jitter when the service is
// busy or failing (408, 429, 500, 502, 503, 504) or the request timed out or lost its
// connection, and turns a refusal into a message that names the account, container or blob
// concerned and never a credential. All clients of a process share one pool of connections.
class BlobClient {
public:
    BlobClient(BlobLocation location, BlobCredentials credentials, RetryPolicy retry = {});

    const BlobLocation& location() const { return m_location; }
    // A client of the same account and credentials for the prefix `name`/ below this one.
    std::shared_ptr<const BlobClient> Under(const std::string& name) const;

    // Returns the answer when its status is 2xx or one of `accepted`; `what` says what the
    // request was for ("upload manifest.json").
    HttpResponse Call(const BlobCall& call, const std::string& what, std::initializer_list<long> accepted = {}) const;

private:
    HttpResponse SendOnce(const BlobCall& call) const;
    std::string Url(const BlobCall& call) const;

    BlobLocation m_location;
    BlobCredentials m_credentials;
    RetryPolicy m_retry;
};

}  // namespace cosmosbackup
