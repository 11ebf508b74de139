#pragma once

#include "storage/BlobClient.h"
#include "storage/StoreLock.h"

#include <chrono>
#include <memory>
#include <string>

namespace cosmosbackup {

// How long a lease lasts (the service takes 15 to 60 s) and how often it is renewed.
struct LeaseTiming {
    std::chrono::seconds duration{60};
    std::chrono::seconds renewEvery{20};
};

// Takes the lock blob `name` under the client's prefix: creates it (empty) when missing and
// acquires a lease on it, then records `owner` in its metadata ("owner"). When another run's
// lease is on it, returns null and sets `holder` to that run's owner text. While the lock lives,
// a thread of its own renews the lease; destroying the lock stops the thread and releases the
// lease. Renewals that keep failing until the lease may have ended make the lock lost.
std::unique_ptr<StoreLock> TryLeaseBlob(const std::shared_ptr<const BlobClient>& client, const std::string& name,
                                        const std::string& owner, std::string& holder, LeaseTiming timing = {});

}  // namespace cosmosbackup
