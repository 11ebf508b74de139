#include "pipeline/RestoreFinalise.h"

namespace cosmosbackup {

long long FinaliseTarget(Connection& connection, const Manifest& scriptsOf, const std::string& database, const std::string& container,
                         const std::optional<std::string>& reopenWithSession) {
    auto& bridge = connection.bridge();
    const std::string target = database + "/" + container;
    if (scriptsOf.scriptCount > 0) {
        connection.Require(bridge.RestoreAttachedScripts(scriptsOf.scripts.dump(), true), "cannot restore the scripts of " + target);
    }
    if (reopenWithSession) {
        const std::string& session = *reopenWithSession;
        connection.Require(bridge.OpenCosmosDBContainer("", database, false, container, session.empty() ? "" : ";sessionToken=" + session),
                           "cannot open " + target + " to count it");
    }
    long long counted = 0;
    connection.Require(bridge.CountItems(counted), "cannot count the items of " + target);
    return counted;
}

}  // namespace cosmosbackup
