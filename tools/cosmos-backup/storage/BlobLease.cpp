#include "storage/BlobLease.h"

#include "storage/BlobRefusal.h"
#include "storage/LockOwner.h"
#include "support/ToolError.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>

namespace cosmosbackup {
namespace {

using Clock = std::chrono::steady_clock;

// A pause between renewals that failed for a passing cause, so that they do not spin.
constexpr std::chrono::seconds kRetryPause{1};

std::string NewLeaseId() {
    std::random_device random;
    unsigned char bytes[16];
    for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
    bytes[6] = (bytes[6] & 0x0f) | 0x40;  // a version 4 (random) UUID, the form the service wants
    bytes[8] = (bytes[8] & 0x3f) | 0x80;
    char text[37];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0], bytes[1],
                  bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9], bytes[10], bytes[11], bytes[12],
                  bytes[13], bytes[14], bytes[15]);
    return text;
}

BlobCall LeaseCall(const std::string& path, const std::string& action, std::map<std::string, std::string> headers) {
    headers["x-ms-lease-action"] = action;
    return BlobCall{"PUT", path, {{"comp", "lease"}}, std::move(headers), {}};
}

class BlobLease : public StoreLock {
public:
    BlobLease(std::shared_ptr<const BlobClient> client, std::string path, std::string leaseId, LeaseTiming timing,
              Clock::time_point acquiredAt)
        : m_client(client->WithMaxWait(timing.renewEvery)),
          m_path(std::move(path)),
          m_leaseId(std::move(leaseId)),
          m_timing(timing),
          m_validUntil(acquiredAt + timing.duration),
          m_renewer(&BlobLease::RenewUntilStopped, this) {}

    ~BlobLease() override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        m_renewer.join();
        try {
            m_client->Call(LeaseCall(m_path, "release", {{"x-ms-lease-id", m_leaseId}}), "release the lock " + Where(), {409});
        } catch (const ToolError&) {
            // Not released: the lease ends by itself when its duration is over.
        }
    }

    void RequireHeld() const override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_lost.empty()) throw ToolError("lost the lock on " + Where() + ": " + m_lost);
        // Also while a renewal hangs in a request: past this time another run may hold it.
        if (Clock::now() >= m_validUntil) {
            throw ToolError("lost the lock on " + Where() + ": its lease was not renewed within " +
                            std::to_string(m_timing.duration.count()) + " s");
        }
    }

    // Sets the owner text, which a run refused the lock reads.
    void SetOwner(const std::string& owner) const {
        BlobCall call{"PUT", m_path, {{"comp", "metadata"}}, {{"x-ms-lease-id", m_leaseId}, {"x-ms-meta-owner", PrintableOwner(owner)}}, {}};
        m_client->Call(call, "record the owner of the lock " + Where());
    }

private:
    enum class Renewal { Renewed, Refused, Failed };

    std::string Where() const { return m_client->location().url; }

    Renewal RenewOnce(std::string& why) const {
        try {
            const auto response = m_client->Call(LeaseCall(m_path, "renew", {{"x-ms-lease-id", m_leaseId}}), "renew the lease", {404, 409, 412});
            if (response.status < 300) return Renewal::Renewed;
            const std::string code = ErrorCodeOf(response);
            why = "its lease was broken or taken (HTTP " + std::to_string(response.status) + (code.empty() ? "" : " " + code) + ")";
            return Renewal::Refused;
        } catch (const ToolError& e) {
            why = e.what();
            return Renewal::Failed;
        }
    }

    void RenewUntilStopped() {
        std::unique_lock<std::mutex> lock(m_mutex);
        auto next = Clock::now() + m_timing.renewEvery;
        while (!m_wake.wait_until(lock, next, [this] { return m_stopping; })) {
            lock.unlock();
            const auto sentAt = Clock::now();
            std::string why;
            const Renewal renewal = RenewOnce(why);
            lock.lock();
            if (renewal == Renewal::Renewed) {
                m_validUntil = sentAt + m_timing.duration;
                next = Clock::now() + m_timing.renewEvery;
            } else if (renewal == Renewal::Refused || Clock::now() >= m_validUntil) {
                m_lost = why;
                return;
            } else {
                next = Clock::now() + kRetryPause;
            }
        }
    }

    std::shared_ptr<const BlobClient> m_client;  // its requests give up within one renewal interval
    std::string m_path;
    std::string m_leaseId;
    LeaseTiming m_timing;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    Clock::time_point m_validUntil;  // the lease's end at the latest, by this machine's clock
    std::string m_lost;              // why the lock was lost; "" while it is held
    std::thread m_renewer;           // last: it starts once everything above is ready
};

std::string ReadHolder(const BlobClient& client, const std::string& path) {
    try {
        const auto response = client.Call(BlobCall{"HEAD", path, {}, {}, {}}, "read the lock's owner", {404});
        const auto owner = response.headers.find("x-ms-meta-owner");
        return owner == response.headers.end() ? "" : PrintableOwner(owner->second);
    } catch (const ToolError&) {
        return "";
    }
}

}  // namespace

std::unique_ptr<StoreLock> TryLeaseBlob(const std::shared_ptr<const BlobClient>& client, const std::string& name,
                                        const std::string& owner, std::string& holder, LeaseTiming timing) {
    const std::string path = client->location().PathOf(name);
    // The blob may be removed between its creation and the lease: then both are done again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        // Created empty unless it exists: 409 or 412 (a lease on it) say it does.
        BlobCall create{"PUT", path, {}, {{"x-ms-blob-type", "BlockBlob"}, {"if-none-match", "*"}}, {}};
        client->Call(create, "create the lock " + name, {409, 412});
        // The same proposed id on a retry makes an acquire whose answer was lost succeed again.
        const std::string leaseId = NewLeaseId();
        const auto sentAt = Clock::now();
        const auto acquired = client->Call(LeaseCall(path, "acquire", {{"x-ms-lease-duration", std::to_string(timing.duration.count())},
                                                                       {"x-ms-proposed-lease-id", leaseId}}),
                                           "lock " + name, {404, 409});
        if (acquired.status == 404) continue;
        if (acquired.status == 409) {
            holder = ReadHolder(*client, path);
            return nullptr;
        }
        auto lease = std::make_unique<BlobLease>(client, path, leaseId, timing, sentAt);
        lease->SetOwner(owner);
        return lease;
    }
    throw ToolError("cannot lock " + name + " in " + client->location().url + ": its blob is removed as soon as it is made");
}

}  // namespace cosmosbackup
