#pragma once

#include "format/Manifest.h"
#include "service/Connection.h"

#include <optional>
#include <string>

namespace cosmosbackup {

// The restore pipeline's last step: the scripts `scriptsOf` holds, then the target counted.
// `reopenWithSession`: the container is opened again first (with that session token, "" for
// none), as the writes left it in another state; without it, the container is open already.
long long FinaliseTarget(Connection& connection, const Manifest& scriptsOf, const std::string& database, const std::string& container,
                         const std::optional<std::string>& reopenWithSession);

}  // namespace cosmosbackup
