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

// The password of encrypted backups: from `filePath` when given, else the file
// COSMOS_BACKUP_PASSWORD_FILE names, else COSMOS_BACKUP_PASSWORD; "" when none is given. A
// password file that others may read is refused; its last line break is not part of it.
std::string ReadBackupPassword(const std::string& filePath);
// The password in `path` (a --new-password-file), read as ReadBackupPassword reads a file.
std::string ReadPasswordFile(const std::string& path);

}  // namespace cosmosbackup
