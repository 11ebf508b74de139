#include "platform/ZRPI_Base.h"

#include <dlfcn.h>

#include <cstdlib>

namespace {

std::string DirectoryOfThisLibrary() {
    Dl_info info{};
    static const int anchor = 0;  // any object of this library locates its file
    if (dladdr(&anchor, &info) == 0 || info.dli_fname == nullptr) {
        return ".";
    }
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string ZRPI_Base::getHomeDirectory() const {
    const char* home = std::getenv("CLOUDSDK_HOME");
    if (home != nullptr && *home != '\0') {
        return home;
    }
    return DirectoryOfThisLibrary();
}
