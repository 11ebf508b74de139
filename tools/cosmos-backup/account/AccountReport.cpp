#include "account/AccountReport.h"

#include <cstdio>

namespace cosmosbackup {

RequestUsage RunReport::TotalUsage() const {
    RequestUsage total;
    for (const auto& c : containers) total += c.usage;
    return total;
}

nlohmann::json ReportJson(const RunReport& report) {
    nlohmann::json containers = nlohmann::json::array();
    std::int64_t items = 0;
    for (const auto& c : report.containers) {
        items += c.items;
        nlohmann::json j{{"source", c.source},       {"status", c.status},           {"items", c.items},
                         {"bytes", c.bytes},         {"deletions", c.deletions},     {"failedItems", c.failedItems},
                         {"problems", c.problems},   {"requestCharge", c.usage.requestCharge},
                         {"requests", c.usage.requests}, {"throttled", c.usage.throttled}, {"seconds", c.seconds}};
        if (!c.target.empty()) j["target"] = c.target;
        if (!c.kind.empty()) j["kind"] = c.kind;
        if (!c.error.empty()) j["error"] = c.error;
        if (report.command == "verify") j["differences"] = c.differences;
        containers.push_back(std::move(j));
    }
    const auto usage = report.TotalUsage();
    nlohmann::json j{{"command", report.command}, {"location", report.location}, {"exitCode", report.exitCode},
                     {"seconds", report.seconds}, {"items", items},             {"requestCharge", usage.requestCharge},
                     {"throttled", usage.throttled}, {"containers", std::move(containers)}};
    j["resumeCommand"] = report.resumeCommand.empty() ? nlohmann::json() : nlohmann::json(report.resumeCommand);
    return j;
}

std::string ReportText(const RunReport& report) {
    std::string text;
    char line[1024];
    std::int64_t items = 0, bytes = 0;
    int done = 0;
    for (const auto& c : report.containers) {
        items += c.items;
        bytes += c.bytes;
        done += c.status == "complete" || c.status == "deleted";
        std::string what = c.source + (c.target.empty() || c.target == c.source ? "" : " -> " + c.target);
        std::snprintf(line, sizeof line, "  %-9s %s%s: %lld items", c.status.c_str(), what.c_str(),
                      c.kind.empty() ? "" : (" (" + c.kind + ")").c_str(), static_cast<long long>(c.items));
        text += line;
        if (c.deletions > 0) text += ", " + std::to_string(c.deletions) + " deletions";
        if (c.failedItems > 0) text += ", " + std::to_string(c.failedItems) + " items refused";
        if (c.problems > 0) text += ", " + std::to_string(c.problems) + " problems";
        std::snprintf(line, sizeof line, ", %.2f s", c.seconds);
        text += line;
        if (c.usage.requests > 0) {
            std::snprintf(line, sizeof line, ", %.1f RU", c.usage.requestCharge);
            text += line;
        }
        if (!c.error.empty()) text += "\n            " + c.error;
        text += "\n";
    }
    const std::string stored = report.command == "backup" ? ", " + std::to_string(bytes) + " bytes" : "";
    std::snprintf(line, sizeof line, "%s of %s: %d of %zu containers done, %lld items%s in %.2f s (%.0f items/s)\n",
                  report.command.c_str(), report.location.c_str(), done, report.containers.size(), static_cast<long long>(items),
                  stored.c_str(), report.seconds, report.seconds > 0 ? items / report.seconds : 0.0);
    text = line + text;
    if (report.TotalUsage().requests > 0) text += "requests: " + DescribeUsage(report.TotalUsage(), report.seconds) + "\n";
    return text;
}

}  // namespace cosmosbackup
