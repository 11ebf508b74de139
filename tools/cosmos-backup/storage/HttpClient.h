#pragma once

#include <curl/curl.h>

#include <array>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace cosmosbackup {

struct HttpResponse {
    long status = 0;
    std::map<std::string, std::string> headers;  // lower-case names
    std::string body;
};

// A request that did not get an HTTP answer: no connection, a timeout, a broken transfer.
// `retryable` is true only where sending it again can succeed (a timeout, a connection lost
// or reset on the way); a refused certificate, a malformed URL or an unknown host are not.
class HttpTransportError : public std::runtime_error {
public:
    HttpTransportError(const std::string& what, bool retryable) : std::runtime_error(what), m_retryable(retryable) {}
    bool retryable() const { return m_retryable; }

private:
    bool m_retryable;
};

// Which proxy requests take: libcurl's choice from the environment (https_proxy, http_proxy,
// all_proxy, no_proxy), none at all, or the one given.
struct ProxySetting {
    enum class Kind { FromEnvironment, None, Given } kind = Kind::FromEnvironment;
    std::string url;
};

// HTTP(S) through libcurl. One client serves many threads at once; they share its connections
// (and TLS sessions), so that consecutive requests to the same host reuse them.
class HttpClient {
public:
    explicit HttpClient(ProxySetting proxy = {});
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Sends `body` (may be empty) and collects at most `maxBody` bytes of the answer; a longer
    // answer is a transport error. A request that stalls (under 1 KiB/s for 30 s) times out.
    HttpResponse Send(const std::string& method, const std::string& url, const std::vector<std::string>& headers,
                      const std::string& body, std::size_t maxBody) const;

private:
    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self);
    static void Unlock(CURL*, curl_lock_data data, void* self);

    struct ShareDeleter {
        void operator()(CURLSH* share) const { curl_share_cleanup(share); }
    };
    ProxySetting m_proxy;
    std::unique_ptr<CURLSH, ShareDeleter> m_share;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> m_locks;
};

}  // namespace cosmosbackup
