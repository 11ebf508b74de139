#include "commands/KeyCommand.h"

#include "storage/KeySlots.h"
#include "support/Secrets.h"
#include "support/ToolError.h"

#include <algorithm>
#include <cstdio>

namespace cosmosbackup {
namespace {

std::vector<KeySlot> SlotsOf(const BackupStore& location) {
    auto slots = ReadKeySlots(location);
    if (slots.empty()) throw ToolError(location.Describe() + " is not encrypted: it holds no key slot");
    return slots;
}

void ListSlots(const std::vector<KeySlot>& slots) {
    for (const auto& slot : slots) {
        std::printf("%s  scrypt N=%llu r=%u p=%u\n", slot.id.c_str(), static_cast<unsigned long long>(slot.kdf.n), slot.kdf.r, slot.kdf.p);
    }
}

const StorePassword& CurrentPassword(const StoreOptions& storage) {
    if (!storage.password) throw ToolError(kPasswordNeeded);
    return *storage.password;
}

std::string AddSlot(BackupStore& location, const std::vector<KeySlot>& slots, const KeyCommandOptions& options, const StoreOptions& storage,
                    std::string* openedBy) {
    if (options.newPasswordFile.empty()) throw UsageError("key " + options.action + " reads the new password from --new-password-file");
    const std::string masterKey = UnlockMasterKey(slots, CurrentPassword(storage), location.Describe(), openedBy);
    const StorePassword added(ReadPasswordFile(options.newPasswordFile));
    const std::string id = AddKeySlot(location, masterKey, added);
    std::printf("added key slot %s\n", id.c_str());
    return id;
}

void RemoveSlot(BackupStore& location, const std::vector<KeySlot>& slots, const std::string& id, const StoreOptions& storage) {
    if (std::none_of(slots.begin(), slots.end(), [&id](const KeySlot& s) { return s.id == id; })) {
        throw ToolError(location.Describe() + " has no key slot " + id + " (key list shows them)");
    }
    if (slots.size() == 1) throw ToolError("key slot " + id + " is the last of " + location.Describe() + ": removing it would leave the backup unreadable");
    UnlockMasterKey(slots, CurrentPassword(storage), location.Describe());  // only who can open the backup changes its keys
    location.Remove(KeySlotName(id));
    std::printf("removed key slot %s\n", id.c_str());
}

}  // namespace

int RunKeyCommand(const KeyCommandOptions& options, const StoreOptions& storage) {
    auto location = OpenStoredFiles(options.location, storage);
    const auto slots = SlotsOf(*location);
    if (options.action == "list") {
        ListSlots(slots);
    } else if (options.action == "add") {
        AddSlot(*location, slots, options, storage, nullptr);
    } else if (options.action == "remove") {
        if (options.slot.empty()) throw UsageError("key remove takes --slot ID (key list shows them)");
        RemoveSlot(*location, slots, options.slot, storage);
    } else if (options.action == "passwd") {
        std::string old;
        AddSlot(*location, slots, options, storage, &old);
        RemoveSlot(*location, ReadKeySlots(*location), old, storage);
    } else {
        throw UsageError("key takes list, add, remove or passwd");
    }
    return 0;
}

}  // namespace cosmosbackup
