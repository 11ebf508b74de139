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

// How patiently a failed request is sent again: after the service's Retry-After, else after an
// exponential back-off with jitter, for as long as one request has waited less than `maxWait`
// in all (the tool's --max-retry-wait, as for requests to the database).
struct RetryPolicy {
    std::chrono::milliseconds maxWait{120000};
    std::chrono::milliseconds firstDelay{200};
    std::chrono::milliseconds maxDelay{8000};
};

// Sends authorised requests to one storage account: signs each attempt with the shared key
// (or appends the SAS token), retries what can succeed when sent again (408, 429, 5xx but 501
// and 505, a timeout, a connection lost or reset) and nothing else, and turns a refusal into a
// message that says its cause (BlobRefusal) and never a credential. Requests go through
// `proxy` when one is given; otherwise through libcurl's environment proxies, except to a
// loopback host, which is always reached directly. The client's requests share its connections.
class BlobClient {
public:
    BlobClient(BlobLocation location, BlobCredentials credentials, RetryPolicy retry = {}, const std::string& proxy = "");

    const BlobLocation& location() const { return m_location; }
    // A client of the same account and credentials for the prefix `name`/ below this one.
    std::shared_ptr<const BlobClient> Under(const std::string& name) const;
    // A client of the same location whose requests wait at most `maxWait` in all (or less, as
    // this one's do): a lease's renewal must know before the lease ends that it failed.
    std::shared_ptr<const BlobClient> WithMaxWait(std::chrono::milliseconds maxWait) const;

    // Returns the answer when its status is 2xx or one of `accepted`; `what` says what the
    // request was for ("upload manifest.json").
    HttpResponse Call(const BlobCall& call, const std::string& what, std::initializer_list<long> accepted = {}) const;

private:
    HttpResponse SendOnce(const BlobCall& call) const;
    std::string Url(const BlobCall& call) const;

    BlobLocation m_location;
    BlobCredentials m_credentials;
    RetryPolicy m_retry;
    std::string m_proxy;
    HttpClient m_http;
};

}  // namespace cosmosbackup
