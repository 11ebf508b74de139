#include "platform/FXString.h"

namespace FXString {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to, size_t start) {
    if (from.empty()) {
        return;
    }
    for (size_t at = text.find(from, start); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace FXString
