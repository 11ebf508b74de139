#pragma once

#include <string>

namespace cosmosbackup {

// What --version prints: the tool's version, the commit it was built from and the managed
// runtime's build (the runtime is started for it, as any command would).
std::string VersionText();

}  // namespace cosmosbackup
