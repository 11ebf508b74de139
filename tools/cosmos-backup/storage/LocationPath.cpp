#include "storage/LocationPath.h"

#include "storage/BlobLocation.h"
#include "storage/OpenBackupStore.h"
#include "support/ToolError.h"

#include <filesystem>
#include <vector>

namespace cosmosbackup {
namespace {

namespace fs = std::filesystem;

// A blob prefix as its container's URL and the path segments below it.
struct BlobPath {
    std::string container;
    std::vector<std::string> segments;
};

BlobPath BlobPathOf(const std::string& url) {
    const auto location = ParseBlobLocation(url);
    BlobPath path{location.endpoint + (location.pathStyle ? "/" + location.account : std::string()) + "/" + location.container, {}};
    std::size_t start = 0;
    for (auto end = location.prefix.find('/'); end != std::string::npos; end = location.prefix.find('/', start)) {
        path.segments.push_back(location.prefix.substr(start, end - start));
        start = end + 1;
    }
    return path;
}

std::string UrlOf(const BlobPath& path) {
    std::string url = path.container;
    for (const auto& segment : path.segments) url += "/" + segment;
    return url;
}

fs::path AbsoluteDirectory(const std::string& directory) { return fs::absolute(directory).lexically_normal(); }

}  // namespace

std::string ResolveLocation(const std::string& from, const std::string& relative) {
    if (relative.empty() || relative.front() == '/' || IsRemoteLocation(relative)) {
        throw ToolError("\"" + relative + "\" is not a relative path to another backup");
    }
    if (!IsRemoteLocation(from)) return (fs::path(from) / relative).lexically_normal().string();
    auto path = BlobPathOf(from);
    for (const auto& segment : fs::path(relative)) {
        if (segment.empty() || segment == ".") continue;
        if (segment != "..") {
            path.segments.push_back(segment.string());
        } else if (path.segments.empty()) {
            throw ToolError("\"" + relative + "\" leads out of the blob container of " + from);
        } else {
            path.segments.pop_back();
        }
    }
    return UrlOf(path);
}

std::string RelativeLocation(const std::string& to, const std::string& from) {
    if (IsRemoteLocation(to) != IsRemoteLocation(from)) {
        throw ToolError(to + " and " + from + " must both be directories or both be blob storage: backups of a chain name "
                        "each other by relative paths");
    }
    if (!IsRemoteLocation(to)) return AbsoluteDirectory(to).lexically_relative(AbsoluteDirectory(from)).string();
    const auto target = BlobPathOf(to), origin = BlobPathOf(from);
    if (target.container != origin.container) {
        throw ToolError(to + " and " + from + " must be in the same blob container: backups of a chain name each other by "
                        "relative paths");
    }
    std::size_t common = 0;
    while (common < target.segments.size() && common < origin.segments.size() &&
           target.segments[common] == origin.segments[common]) {
        ++common;
    }
    fs::path relative;
    for (std::size_t i = common; i < origin.segments.size(); ++i) relative /= "..";
    for (std::size_t i = common; i < target.segments.size(); ++i) relative /= target.segments[i];
    return relative.empty() ? "." : relative.string();
}

bool SameLocation(const std::string& a, const std::string& b) {
    if (IsRemoteLocation(a) != IsRemoteLocation(b)) return false;
    if (!IsRemoteLocation(a)) return AbsoluteDirectory(a) == AbsoluteDirectory(b);
    const auto first = BlobPathOf(a), second = BlobPathOf(b);
    return first.container == second.container && first.segments == second.segments;
}

}  // namespace cosmosbackup
