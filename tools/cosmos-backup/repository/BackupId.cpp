#include "repository/BackupId.h"

#include <cstdio>
#include <random>
#include <regex>

namespace cosmosbackup {
namespace {

std::optional<std::time_t> UtcSeconds(int year, int month, int day, int hour, int minute, int second) {
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return std::nullopt;
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    return timegm(&fields);
}

}  // namespace

std::string NewBackupId(std::time_t now) {
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[64];
    std::random_device random;
    std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02dZ-%06x", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                  utc.tm_min, utc.tm_sec, static_cast<unsigned>(random()) & 0xffffffu);
    return text;
}

bool IsBackupId(const std::string& name) { return TimeOfId(name).has_value(); }

std::optional<std::time_t> TimeOfId(const std::string& id) {
    static const std::regex form(R"((\d{4})(\d{2})(\d{2})T(\d{2})(\d{2})(\d{2})Z-[0-9a-f]{6})");
    std::smatch m;
    if (!std::regex_match(id, m, form)) return std::nullopt;
    return UtcSeconds(std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3]), std::stoi(m[4]), std::stoi(m[5]), std::stoi(m[6]));
}

std::string Rfc3339(std::time_t time) {
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::optional<std::time_t> ParseRfc3339Utc(const std::string& text) {
    static const std::regex form(R"((\d{4})-(\d{2})-(\d{2})[Tt](\d{2}):(\d{2}):(\d{2})(\.\d+)?([Zz]|\+00:00))");
    std::smatch m;
    if (!std::regex_match(text, m, form)) return std::nullopt;
    return UtcSeconds(std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3]), std::stoi(m[4]), std::stoi(m[5]), std::stoi(m[6]));
}

}  // namespace cosmosbackup
