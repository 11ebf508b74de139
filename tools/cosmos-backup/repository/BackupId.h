#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace cosmosbackup {

// A backup's id in a repository: the UTC time it began and a short random part,
// "20261208T180000Z-3f9a1c". Ids sort by time, and two runs begun in the same second differ.
std::string NewBackupId(std::time_t now);
bool IsBackupId(const std::string& name);
// The time an id names, as seconds since the epoch; nothing when `id` is not one.
std::optional<std::time_t> TimeOfId(const std::string& id);
// The time as RFC 3339 UTC: "2026-12-08T18:00:00Z".
std::string Rfc3339(std::time_t time);
// "2026-12-08T18:00:00Z" (RFC 3339 UTC, seconds optional fractions and "+00:00" taken) as
// seconds since the epoch; nothing when `text` is not such a time.
std::optional<std::time_t> ParseRfc3339Utc(const std::string& text);

}  // namespace cosmosbackup
