#include "support/RerunCommand.h"

namespace cosmosbackup {

std::string ShellQuoted(const std::string& word) {
    const bool safe = !word.empty() && word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                              "0123456789@%+=:,./-_") == std::string::npos;
    if (safe) return word;
    std::string quoted = "'";
    for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string RerunCommand::With(const std::vector<std::string>& arguments) const {
    std::string line;
    for (const auto* words : {&m_prefix, &arguments, &m_pacing}) {
        for (const auto& word : *words) line += (line.empty() ? "" : " ") + ShellQuoted(word);
    }
    return line;
}

}  // namespace cosmosbackup
