#pragma once

#include <string>

namespace FXString {

// Replaces in place every occurrence of `from` at or after `start` by `to`. An empty
// `from` replaces nothing.
void ReplaceAll(std::string& text, const std::string& from, const std::string& to, size_t start);

}  // namespace FXString
