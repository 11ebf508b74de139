#include "service/FailureReport.h"

#include "format/DurableFile.h"

#include <cctype>
#include <ctime>
#include <vector>

namespace cosmosbackup {
namespace {

constexpr long long kFailedItemsCode = -2;

std::string ReportName(const std::string& target) {
    std::string name = "cosmos-backup-failed-";
    for (char c : target) name += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "-%Y%m%dT%H%M%SZ.jsonl", &tm);
    return name + stamp;
}

}  // namespace

std::int64_t WriteFailureReport(Connection& connection, const std::string& target, std::string& path) {
    std::vector<CloudSDKCppBridge::SString> failed;
    connection.Require(connection.bridge().GetCosmosDBTokens(kFailedItemsCode, failed), "cannot list the items that failed");
    path.clear();
    if (failed.empty()) return 0;
    std::string lines;
    for (const auto& entry : failed) lines += entry.strValue + "\n";
    path = ReportName(target);
    WriteFileDurably(path, lines);
    return static_cast<std::int64_t>(failed.size());
}

}  // namespace cosmosbackup
