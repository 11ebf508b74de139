#include "platform/CUbPath.h"

CUbString CUbPath::Append(const std::string& directory, const std::string& name) {
    if (directory.empty()) {
        return CUbString(name);
    }
    std::string path = directory;
    if (path.back() != '/') {
        path += '/';
    }
    path.append(name, name.rfind('/', 0) == 0 ? 1 : 0, std::string::npos);
    return CUbString(std::move(path));
}
