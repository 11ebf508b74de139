// The memory an increment's key comparison needs, per item of the container: one process per
// measurement, its peak resident size (getrusage) minus what it held before the comparison.
//   key_comparison_bench prepare ITEMS DIR   writes the parent's key file into DIR/parent
//   key_comparison_bench tool ITEMS DIR      the tool's comparison (compact sets, streamed merges)
//   key_comparison_bench strings ITEMS DIR   the same with a vector of strings per set and
//                                            materialised unions, as the tool did before
// The container: ITEMS keys of GUID-like ids and 997 partition key values; since the parent,
// every 10th item changed, every 50th was deleted and ITEMS/100 are new. The container's keys
// come in four parts, as the ranges give them.
#include "chain/ChainRecord.h"
#include "chain/KeyComparison.h"
#include "chain/KeySet.h"
#include "format/GzipFile.h"
#include "storage/OpenBackupStore.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

using namespace cosmosbackup;

namespace {

constexpr int kParts = 4;

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string KeyOf(std::uint64_t i) {
    std::uint64_t z = i + 0x9e3779b97f4a7c15ULL, h[2];
    for (auto& half : h) {
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        half = z ^ (z >> 31);
    }
    char key[96];
    std::snprintf(key, sizeof key, "[\"%08llx-%04llx-%04llx-%04llx-%012llx\",\"tenant-%llu\"]",
                  static_cast<unsigned long long>(h[0] >> 32), static_cast<unsigned long long>((h[0] >> 16) & 0xffff),
                  static_cast<unsigned long long>(h[0] & 0xffff), static_cast<unsigned long long>(h[1] >> 48),
                  static_cast<unsigned long long>(h[1] & 0xffffffffffffULL), static_cast<unsigned long long>(i % 997));
    return key;
}

bool Deleted(std::uint64_t i) { return i % 50 == 7; }
bool Changed(std::uint64_t i, std::uint64_t items) { return i >= items || i % 10 == 3; }

template <typename Add>
void ForEachLive(std::uint64_t items, Add add) {
    for (std::uint64_t i = 0; i < items + items / 100; ++i) {
        if (!Deleted(i)) add(i, KeyOf(i));
    }
}

void Prepare(std::uint64_t items, const std::string& dir) {
    std::filesystem::create_directories(dir + "/parent");
    KeySet keys;
    for (std::uint64_t i = 0; i < items; ++i) keys.Add(KeyOf(i));
    keys.Normalise();
    const auto entry = WriteKeyFile(*OpenBackupStore(dir + "/parent"), kKeysFileName, keys);
    std::printf("%lld\n", static_cast<long long>(entry.bytes));  // the entry's size, for the others
}

DataFile ParentEntry(std::uint64_t items, const std::string& dir) {
    const auto path = dir + "/parent/" + kKeysFileName;
    return DataFile{kKeysFileName, static_cast<std::int64_t>(items), static_cast<std::int64_t>(std::filesystem::file_size(path)),
                    FileCrc32(path)};
}

KeyChangeFiles Tool(std::uint64_t items, const std::string& dir) {
    std::vector<KeySet> live(kParts), changed(kParts);
    ForEachLive(items, [&](std::uint64_t i, const std::string& key) {
        live[i % kParts].Add(key);
        if (Changed(i, items)) changed[i % kParts].Add(key);
    });
    for (auto& part : live) part.Normalise();
    for (auto& part : changed) part.Normalise();
    const auto parentStore = OpenBackupStore(dir + "/parent");
    KeyFileCursor parent(*parentStore, ParentEntry(items, dir));
    MergedKeys liveKeys(live), changedKeys(changed);
    const auto store = OpenBackupStore(dir + "/tool");
    return CompareKeys(*store, parent, changedKeys, liveKeys);
}

class VectorCursor : public KeyCursor {
public:
    explicit VectorCursor(const std::vector<std::string>& keys) : m_keys(keys) {}
    bool Next(std::string_view& key) override {
        if (m_next == m_keys.size()) return false;
        key = m_keys[m_next++];
        return true;
    }

private:
    const std::vector<std::string>& m_keys;
    std::size_t m_next = 0;
};

// As the tool did before: the parent's keys read whole, each set a sorted vector of strings,
// the union and the intersection materialised.
KeyChangeFiles Strings(std::uint64_t items, const std::string& dir) {
    using Keys = std::vector<std::string>;
    const auto sorted = [](Keys keys) {
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        return keys;
    };
    Keys parent;
    for (const auto key : ReadKeyFile(*OpenBackupStore(dir + "/parent"), ParentEntry(items, dir))) parent.emplace_back(key);
    std::vector<Keys> parts(kParts);
    Keys changed;
    ForEachLive(items, [&](std::uint64_t i, const std::string& key) {
        parts[i % kParts].push_back(key);
        if (Changed(i, items)) changed.push_back(key);
    });
    Keys live;
    for (auto& part : parts) live.insert(live.end(), std::make_move_iterator(part.begin()), std::make_move_iterator(part.end()));
    live = sorted(std::move(live));
    changed = sorted(std::move(changed));
    Keys candidates, kept, deletions;
    std::set_union(parent.begin(), parent.end(), changed.begin(), changed.end(), std::back_inserter(candidates));
    std::set_difference(candidates.begin(), candidates.end(), live.begin(), live.end(), std::back_inserter(deletions));
    std::set_intersection(candidates.begin(), candidates.end(), live.begin(), live.end(), std::back_inserter(kept));
    const auto store = OpenBackupStore(dir + "/strings");
    VectorCursor keys(kept), gone(deletions);
    return KeyChangeFiles{WriteKeyFile(*store, kKeysFileName, keys), WriteKeyFile(*store, kDeletionsFileName, gone)};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: key_comparison_bench prepare|tool|strings ITEMS DIR\n");
        return 2;
    }
    const std::string mode = argv[1], dir = argv[3];
    const std::uint64_t items = std::stoull(argv[2]);
    if (mode == "prepare") {
        Prepare(items, dir);
        return 0;
    }
    std::filesystem::create_directories(dir + "/" + mode);
    const long before = PeakKilobytes();
    const KeyChangeFiles files = mode == "tool" ? Tool(items, dir) : Strings(items, dir);
    const long peak = PeakKilobytes();
    std::printf("%s %llu items: %lld kept, %lld deleted; peak RSS %ld KiB above the %ld KiB before: %.1f bytes per item\n",
                mode.c_str(), static_cast<unsigned long long>(items), static_cast<long long>(files.keys.items),
                static_cast<long long>(files.deletions.items), peak - before, before, (peak - before) * 1024.0 / items);
    return 0;
}
