#pragma once

#include "repository/Catalogue.h"
#include "repository/Repository.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cosmosbackup {

// One problem check found, and every backup it makes unrestorable (the damaged one and each
// that continues it).
struct CheckProblem {
    std::string text;
    std::vector<std::string> unrestorable;
};

// Reads every data file of one container's backup (hashes, gzip, lines, item counts); returns
// what it finds wrong.
using ReadDataCheck = std::function<std::vector<std::string>(const std::shared_ptr<BackupStore>& backup)>;

// Checks a repository without the database: every record parses and agrees with the others,
// every chain is whole, every file a manifest names is there with its size, and with
// `readData` every file's contents. Lists every problem, not only the first.
std::vector<CheckProblem> CheckRepository(const Repository& repository, const ReadDataCheck& readData = nullptr);

}  // namespace cosmosbackup
