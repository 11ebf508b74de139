#pragma once

namespace cosmosbackup {

// The tool's version ("1.1.0"), as its build gives it; recorded in what it writes.
const char* ToolVersion();

}  // namespace cosmosbackup
