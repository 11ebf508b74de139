#include "repository/Retention.h"

#include <algorithm>
#include <functional>

namespace cosmosbackup {
namespace {

// One rule: how many buckets it still keeps, and the bucket of the last backup it kept.
struct Rule {
    const char* name;
    int remaining;
    std::function<long long(std::time_t, std::size_t)> bucket;
    long long last = -1;
};

long long Field(std::time_t time, const char* format) {
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[32];
    std::strftime(text, sizeof text, format, &utc);
    return std::stoll(text);
}

}  // namespace

std::vector<RetentionDecision> ApplyRetention(const RetentionPolicy& policy, std::vector<RetentionCandidate> backups) {
    std::stable_sort(backups.begin(), backups.end(), [](const auto& a, const auto& b) { return a.time > b.time; });
    std::vector<Rule> rules{
        {"last", policy.last, [](std::time_t, std::size_t index) { return static_cast<long long>(index); }},
        {"hourly", policy.hourly, [](std::time_t t, std::size_t) { return Field(t, "%Y%m%d%H"); }},
        {"daily", policy.daily, [](std::time_t t, std::size_t) { return Field(t, "%Y%m%d"); }},
        {"weekly", policy.weekly, [](std::time_t t, std::size_t) { return Field(t, "%G%V"); }},
        {"monthly", policy.monthly, [](std::time_t t, std::size_t) { return Field(t, "%Y%m"); }},
        {"yearly", policy.yearly, [](std::time_t t, std::size_t) { return Field(t, "%Y"); }},
    };
    std::vector<RetentionDecision> decisions;
    for (std::size_t index = 0; index < backups.size(); ++index) {
        RetentionDecision decision{backups[index].id, false, {}};
        for (auto& rule : rules) {
            if (rule.remaining <= 0) continue;
            const long long bucket = rule.bucket(backups[index].time, index);
            if (bucket == rule.last) continue;
            rule.last = bucket;
            --rule.remaining;
            decision.keep = true;
            decision.reasons.push_back(rule.name);
        }
        decisions.push_back(std::move(decision));
    }
    return decisions;
}

}  // namespace cosmosbackup
