#pragma once

#include <string>

namespace cosmosbackup {

// `text` as one word of a POSIX shell command line: as it is when it holds only characters no
// shell treats specially, else in single quotes (a quote inside as '\'').
inline std::string ShellWord(const std::string& text) {
    const bool plain = !text.empty() && text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                                                               "-_./:=@%+,") == std::string::npos;
    if (plain) return text;
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace cosmosbackup
