#include "storage/BlobClient.h"

#include "storage/SharedKey.h"
#include "support/ToolError.h"

#include <algorithm>
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

// One for the process: stores are opened per operation, and their requests should still find
// the connections (and TLS sessions) that earlier ones left open.
const HttpClient& SharedHttp() {
    static const HttpClient http;
    return http;
}

bool IsTransient(long status) {
    return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

std::chrono::milliseconds BackOff(const RetryPolicy& retry, int attempt) {
    thread_local std::mt19937 random{std::random_device{}()};
    const long long ceiling = std::min<long long>(retry.maxDelay.count(), retry.firstDelay.count() << std::min(attempt, 20));
    // Jitter: parallel uploads that failed together do not come back together.
    return std::chrono::milliseconds(std::uniform_int_distribution<long long>(ceiling / 2, ceiling)(random));
}

std::string ErrorCode(const HttpResponse& response) {
    const auto found = response.headers.find("x-ms-error-code");
    return found == response.headers.end() ? "" : found->second;
}

}  // namespace

BlobClient::BlobClient(BlobLocation location, BlobCredentials credentials, RetryPolicy retry)
    : m_location(std::move(location)), m_credentials(std::move(credentials)), m_retry(retry) {}

std::shared_ptr<const BlobClient> BlobClient::Under(const std::string& name) const {
    BlobLocation below = m_location;
    below.prefix += name + "/";
    below.url += (below.url.empty() || below.url.back() == '/' ? "" : "/") + name;
    return std::make_shared<const BlobClient>(std::move(below), m_credentials, m_retry);
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
    return SharedHttp().Send(call.method, Url(call), headers, call.body, call.maxAnswer);
}

HttpResponse BlobClient::Call(const BlobCall& call, const std::string& what, std::initializer_list<long> accepted) const {
    const std::string where = "storage account " + m_location.account + ", container " + m_location.container;
    std::string lastFailure;
    for (int attempt = 0; attempt < m_retry.attempts; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(BackOff(m_retry, attempt - 1));
        HttpResponse response;
        try {
            response = SendOnce(call);
        } catch (const HttpTransportError& e) {
            lastFailure = e.what();
            continue;
        }
        const long status = response.status;
        if ((status >= 200 && status < 300) || std::find(accepted.begin(), accepted.end(), status) != accepted.end()) {
            return response;
        }
        const std::string code = ErrorCode(response);
        if (IsTransient(status)) {
            lastFailure = "HTTP " + std::to_string(status) + (code.empty() ? "" : " " + code);
            continue;
        }
        if (code == "ContainerNotFound") throw ToolError("cannot " + what + ": the container " + m_location.container +
                                                         " does not exist in storage account " + m_location.account);
        if (status == 403) {
            throw ToolError("cannot " + what + ": " + where + " refused the credentials (" +
                            (code.empty() ? "HTTP 403" : code) + "); check AZURE_STORAGE_KEY or the SAS token");
        }
        throw ToolError("cannot " + what + " (" + where + "): HTTP " + std::to_string(status) +
                        (code.empty() ? "" : " " + code));
    }
    throw ToolError("cannot " + what + " (" + where + ") after " + std::to_string(m_retry.attempts) +
                    " attempts: " + lastFailure);
}

}  // namespace cosmosbackup
