#include "storage/BlobClient.h"

#include "storage/BlobRefusal.h"
#include "storage/SharedKey.h"
#include "support/ToolError.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <random>
#include <thread>

namespace cosmosbackup {
namespace {

constexpr const char* kServiceVersion = "2021-08-06";

std::string HttpDate() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[tm.tm_wday], tm.tm_mday, months[tm.tm_mon],
                  tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

bool IsTransient(long status) {
    return status == 408 || status == 429 || (status >= 500 && status != 501 && status != 505);
}

// The service's Retry-After (whole seconds), or a negative duration when it gave none.
std::chrono::milliseconds RetryAfter(const HttpResponse& response) {
    const auto found = response.headers.find("retry-after");
    if (found == response.headers.end() || found->second.empty() ||
        found->second.find_first_not_of("0123456789") != std::string::npos || found->second.size() > 6) {
        return std::chrono::milliseconds(-1);
    }
    return std::chrono::seconds(std::atol(found->second.c_str()));
}

ProxySetting ProxyFor(const BlobLocation& location, const std::string& proxy) {
    if (!proxy.empty()) return ProxySetting{ProxySetting::Kind::Given, proxy};
    if (location.loopback) return ProxySetting{ProxySetting::Kind::None, ""};
    return ProxySetting{};
}

std::chrono::milliseconds BackOff(const RetryPolicy& retry, int attempt) {
    thread_local std::mt19937 random{std::random_device{}()};
    const long long ceiling = std::min<long long>(retry.maxDelay.count(), retry.firstDelay.count() << std::min(attempt, 20));
    // Jitter: parallel uploads that failed together do not come back together.
    return std::chrono::milliseconds(std::uniform_int_distribution<long long>(ceiling / 2, ceiling)(random));
}

}  // namespace

BlobClient::BlobClient(BlobLocation location, BlobCredentials credentials, RetryPolicy retry, const std::string& proxy)
    : m_location(std::move(location)),
      m_credentials(std::move(credentials)),
      m_retry(retry),
      m_proxy(proxy),
      m_http(ProxyFor(m_location, proxy)) {}

std::shared_ptr<const BlobClient> BlobClient::Under(const std::string& name) const {
    BlobLocation below = m_location;
    below.prefix += name + "/";
    below.url += (below.url.empty() || below.url.back() == '/' ? "" : "/") + name;
    return std::make_shared<const BlobClient>(std::move(below), m_credentials, m_retry, m_proxy);
}

std::shared_ptr<const BlobClient> BlobClient::WithMaxWait(std::chrono::milliseconds maxWait) const {
    RetryPolicy bounded = m_retry;
    bounded.maxWait = std::min(bounded.maxWait, maxWait);
    return std::make_shared<const BlobClient>(m_location, m_credentials, bounded, m_proxy);
}

std::string BlobClient::Url(const BlobCall& call) const {
    std::string url = m_location.endpoint + call.path;
    char separator = '?';
    for (const auto& [name, value] : call.query) {
        url += separator + name + "=" + PercentEncode(value, false);
        separator = '&';
    }
    if (!m_credentials.sasToken.empty()) url += separator + m_credentials.sasToken;
    return url;
}

HttpResponse BlobClient::SendOnce(const BlobCall& call) const {
    StorageRequest request{call.method, call.path, call.query, call.headers, call.body.size()};
    request.headers["x-ms-date"] = HttpDate();
    request.headers["x-ms-version"] = kServiceVersion;
    std::vector<std::string> headers;
    for (const auto& [name, value] : request.headers) headers.push_back(name + ": " + value);
    if (m_credentials.sasToken.empty()) {
        headers.push_back("Authorization: " + SharedKeyAuthorization(m_credentials.account, m_credentials.key, request));
    }
    return m_http.Send(call.method, Url(call), headers, call.body, call.maxAnswer);
}

HttpResponse BlobClient::Call(const BlobCall& call, const std::string& what, std::initializer_list<long> accepted) const {
    std::chrono::milliseconds waited{0};
    std::string lastFailure;
    for (int attempt = 0;; ++attempt) {
        std::chrono::milliseconds delay{-1};
        try {
            const HttpResponse response = SendOnce(call);
            const long status = response.status;
            if ((status >= 200 && status < 300) || std::find(accepted.begin(), accepted.end(), status) != accepted.end()) {
                return response;
            }
            if (!IsTransient(status)) throw ToolError("cannot " + what + ": " + DescribeRefusal(response, m_location, m_credentials));
            const std::string code = ErrorCodeOf(response);
            lastFailure = "HTTP " + std::to_string(status) + (code.empty() ? "" : " " + code);
            delay = RetryAfter(response);
        } catch (const HttpTransportError& e) {
            // The message is libcurl's, about the transfer: it holds no URL.
            if (!e.retryable()) throw ToolError("cannot " + what + " (storage account " + m_location.account + "): " + e.what());
            lastFailure = e.what();
        }
        // A Retry-After of 0 must not make a busy loop.
        delay = delay.count() < 0 ? BackOff(m_retry, attempt) : std::max(delay, m_retry.firstDelay);
        if (waited + delay > m_retry.maxWait) {
            throw ToolError("cannot " + what + " (storage account " + m_location.account + ", container " +
                            m_location.container + "): still failing after " + std::to_string(attempt + 1) + " attempts over " +
                            std::to_string(waited.count() / 1000) + " s (--max-retry-wait " +
                            std::to_string(m_retry.maxWait.count() / 1000) + " s): " + lastFailure);
        }
        std::this_thread::sleep_for(delay);
        waited += delay;
    }
}

}  // namespace cosmosbackup
