#include "support/RerunCommand.h"

#include "support/ShellWord.h"

namespace cosmosbackup {

std::string RerunCommand::With(const std::vector<std::string>& arguments) const {
    std::string line;
    for (const auto* words : {&m_prefix, &arguments, &m_pacing}) {
        for (const auto& word : *words) line += (line.empty() ? "" : " ") + ShellWord(word);
    }
    return line;
}

std::string RerunCommand::Again() const {
    if (m_given.empty()) return With({});
    std::string line;
    for (const auto& word : m_given) line += (line.empty() ? "" : " ") + ShellWord(word);
    return line;
}

}  // namespace cosmosbackup
