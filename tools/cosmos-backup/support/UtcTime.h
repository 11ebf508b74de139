#pragma once

#include <string>

namespace cosmosbackup {

// The current time in UTC, ISO 8601 to the second ("2026-12-08T09:30:00Z").
std::string UtcNow();

}  // namespace cosmosbackup
