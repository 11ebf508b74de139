#include "storage/HttpClient.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace cosmosbackup {
namespace {

constexpr long kConnectTimeoutMs = 10000;
constexpr long kStallBytesPerSecond = 1024;
constexpr long kStallSeconds = 30;

void InitialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
    const std::string* body;
    std::size_t sent = 0;
    std::size_t maxBody;
    HttpResponse response;
    bool tooLong = false;
};

std::size_t ReadBody(char* buffer, std::size_t size, std::size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    const std::size_t n = std::min(size * count, transfer.body->size() - transfer.sent);
    std::memcpy(buffer, transfer.body->data() + transfer.sent, n);
    transfer.sent += n;
    return n;
}

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    const std::size_t n = size * count;
    if (transfer.response.body.size() + n > transfer.maxBody) {
        transfer.tooLong = true;
        return 0;  // ends the transfer
    }
    transfer.response.body.append(data, n);
    return n;
}

std::size_t ReadHeader(char* data, std::size_t size, std::size_t count, void* context) {
    auto& headers = static_cast<Transfer*>(context)->response.headers;
    const std::string line(data, size * count);
    if (line.rfind("HTTP/", 0) == 0) headers.clear();  // a new answer (after 100 Continue)
    const auto colon = line.find(':');
    if (colon != std::string::npos) {
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        const auto first = line.find_first_not_of(" \t", colon + 1);
        const auto last = line.find_last_not_of(" \t\r\n");
        headers[name] = first == std::string::npos || last < first ? "" : line.substr(first, last - first + 1);
    }
    return size * count;
}

// Errors after which the same request may well get an answer: it timed out, or the connection
// broke or was reset on the way. Everything else (no such host, connection refused, a refused
// certificate, a malformed URL, an unusable proxy) would fail the same way again.
bool IsRetryable(CURLcode code) {
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return true;
        default:
            return false;
    }
}

}  // namespace

HttpClient::HttpClient(ProxySetting proxy) : m_proxy(std::move(proxy)) {
    InitialiseCurlOnce();
    m_share.reset(curl_share_init());
    if (!m_share) throw std::runtime_error("cannot initialise libcurl");
    curl_share_setopt(m_share.get(), CURLSHOPT_LOCKFUNC, &HttpClient::Lock);
    curl_share_setopt(m_share.get(), CURLSHOPT_UNLOCKFUNC, &HttpClient::Unlock);
    curl_share_setopt(m_share.get(), CURLSHOPT_USERDATA, this);
    curl_share_setopt(m_share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(m_share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(m_share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
}

HttpClient::~HttpClient() = default;

void HttpClient::Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<HttpClient*>(self)->m_locks[data].lock();
}

void HttpClient::Unlock(CURL*, curl_lock_data data, void* self) { static_cast<HttpClient*>(self)->m_locks[data].unlock(); }

HttpResponse HttpClient::Send(const std::string& method, const std::string& url, const std::vector<std::string>& headers,
                              const std::string& body, std::size_t maxBody) const {
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> list(nullptr, curl_slist_free_all);
    if (!curl) throw HttpTransportError("cannot initialise libcurl", false);
    // "Expect:" keeps libcurl from waiting for 100 Continue before a large body.
    for (const auto& header : headers) list.reset(curl_slist_append(list.release(), header.c_str()));
    list.reset(curl_slist_append(list.release(), "Expect:"));

    Transfer transfer{&body, 0, maxBody, {}, false};
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_SHARE, m_share.get());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, kStallBytesPerSecond);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, list.get());
    // "" turns libcurl's environment proxies off; a given proxy replaces them.
    if (m_proxy.kind != ProxySetting::Kind::FromEnvironment) curl_easy_setopt(c, CURLOPT_PROXY, m_proxy.url.c_str());
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, ReadHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
    if (method == "PUT") {
        curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(c, CURLOPT_READFUNCTION, ReadBody);
        curl_easy_setopt(c, CURLOPT_READDATA, &transfer);
        curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(body.size()));
    } else if (method == "HEAD") {
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    } else if (method != "GET") {
        curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    const CURLcode code = curl_easy_perform(c);
    if (transfer.tooLong) throw HttpTransportError("the answer is longer than expected", false);
    if (code != CURLE_OK) throw HttpTransportError(curl_easy_strerror(code), IsRetryable(code));
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &transfer.response.status);
    return std::move(transfer.response);
}

}  // namespace cosmosbackup
