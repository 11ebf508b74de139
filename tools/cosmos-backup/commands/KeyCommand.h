#pragma once

#include "storage/OpenBackupStore.h"

#include <string>

namespace cosmosbackup {

// `key list|add|remove|passwd --location LOC`: the passwords of an encrypted backup, each a key
// slot holding the master key. Slots change; the data stays as it is encrypted.
struct KeyCommandOptions {
    std::string action;  // list, add, remove, passwd
    std::string location;
    std::string newPasswordFile;  // add, passwd
    std::string slot;             // remove
};

// Prints what it did; returns the exit status. Throws ToolError for a location that is not
// encrypted, a wrong password, a slot that does not exist, and removing the last slot.
int RunKeyCommand(const KeyCommandOptions& options, const StoreOptions& storage);

}  // namespace cosmosbackup
