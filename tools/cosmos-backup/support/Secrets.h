#pragma once

#include <string>

namespace cosmosbackup {

// Where the account key comes from: an environment variable or a file, never the command line,
// so that it does not show in the process list or the shell history.
struct KeySource {
    std::string envName = "COSMOS_KEY";
    std::string filePath;  // used when not empty
};

// Reads the key (surrounding white space removed). Throws ToolError naming the source, never
// the key. A key file that others may read is refused.
std::string ReadAccountKey(const KeySource& source);

}  // namespace cosmosbackup
