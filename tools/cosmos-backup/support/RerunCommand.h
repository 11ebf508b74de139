#pragma once

#include <string>
#include <vector>

namespace cosmosbackup {

// The command that continues an interrupted run, as one line a shell can run: the program and
// the global options exactly as this run was given them (the account key is never among them),
// then the command's own arguments, then the pacing options this run was given.
class RerunCommand {
public:
    RerunCommand() = default;
    RerunCommand(std::vector<std::string> prefix, std::vector<std::string> pacing)
        : m_prefix(std::move(prefix)), m_pacing(std::move(pacing)) {}

    std::string With(const std::vector<std::string>& arguments) const;

private:
    std::vector<std::string> m_prefix{"cosmos-backup"};
    std::vector<std::string> m_pacing;
};

}  // namespace cosmosbackup
