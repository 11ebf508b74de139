#pragma once

#include <string>
#include <vector>

namespace cosmosbackup {

// The command that continues an interrupted run, as one line a shell can run: the program and
// the global options exactly as this run was given them (the account key is never among them),
// then the command's own arguments, then the pacing options this run was given. Every line the
// tool prints to continue a run is built here, so that run as printed it works.
class RerunCommand {
public:
    RerunCommand() = default;
    RerunCommand(std::vector<std::string> prefix, std::vector<std::string> pacing, std::vector<std::string> given = {})
        : m_prefix(std::move(prefix)), m_pacing(std::move(pacing)), m_given(std::move(given)) {}

    std::string With(const std::vector<std::string>& arguments) const;
    // The whole command line as this run was given it (a shard goes on when run again as it was).
    std::string Again() const;

private:
    std::vector<std::string> m_prefix{"cosmos-backup"};
    std::vector<std::string> m_pacing;
    std::vector<std::string> m_given;  // program and every argument
};

}  // namespace cosmosbackup
