#include "format/FileShares.h"

#include <algorithm>
#include <numeric>

namespace cosmosbackup {

std::vector<DataFile> ShareOfFiles(const std::vector<DataFile>& files, int index, int count) {
    std::vector<std::size_t> order(files.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&files](std::size_t a, std::size_t b) { return files[a].bytes > files[b].bytes; });
    std::vector<std::int64_t> load(static_cast<std::size_t>(std::max(count, 1)), 0);
    std::vector<bool> mine(files.size(), false);
    for (const std::size_t f : order) {
        const auto lightest = static_cast<std::size_t>(std::min_element(load.begin(), load.end()) - load.begin());
        load[lightest] += std::max<std::int64_t>(files[f].bytes, 1);
        mine[f] = static_cast<int>(lightest) == index;
    }
    std::vector<DataFile> share;
    for (std::size_t f = 0; f < files.size(); ++f) {
        if (mine[f]) share.push_back(files[f]);
    }
    return share;
}

}  // namespace cosmosbackup
