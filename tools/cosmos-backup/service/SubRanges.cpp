#include "service/SubRanges.h"

#include "service/EffectiveKeyCuts.h"
#include "support/ThreadGroup.h"

#include <exception>
#include <map>
#include <mutex>
#include <set>

namespace cosmosbackup {

std::vector<nlohmann::json> PlanSubRanges(const std::vector<nlohmann::json>& ranges, int readers,
                                          const nlohmann::json& partitionKey) {
    const int count = static_cast<int>(ranges.size());
    if (count == 0 || count >= readers) return ranges;
    std::vector<nlohmann::json> parts;
    for (int i = 0; i < count; ++i) {
        const auto& range = ranges[static_cast<std::size_t>(i)];
        const int share = readers / count + (i < readers % count ? 1 : 0);
        const std::string min = range.value("minInclusive", std::string());
        const std::string max = range.value("maxExclusive", std::string("FF"));
        std::string from = min;
        for (const auto& cut : CutPoints(min, max, partitionKey, share)) {
            parts.push_back({{"id", range.value("id", std::string())}, {"minInclusive", from}, {"maxExclusive", cut}});
            from = cut;
        }
        parts.push_back({{"id", range.value("id", std::string())}, {"minInclusive", from}, {"maxExclusive", max}});
    }
    return parts;
}

SubRangeVerdict ProbeSubRanges(RangeReaders& readers, const std::vector<nlohmann::json>& parts) {
    SubRangeVerdict verdict;
    std::mutex failureLock;
    {
        ThreadGroup threads;
        for (auto& reader : readers) {
            RangeReader* r = reader.get();
            threads.Start([r, &verdict, &failureLock] {
                try {
                    r->ReadFirstPage();
                } catch (const std::exception& e) {
                    std::lock_guard<std::mutex> hold(failureLock);
                    verdict.reads = SubRangeReads::Refused;
                    verdict.reason = e.what();
                }
            });
        }
    }
    if (verdict.reads == SubRangeReads::Refused) return verdict;

    // Parts of one range share its id. An item is its whole text: two parts that answer the
    // same text answered the same item.
    std::map<std::string, std::set<std::string>> seen;
    std::map<std::string, int> partsWithItems;
    for (std::size_t i = 0; i < readers.size(); ++i) {
        const std::string range = parts[i].value("id", std::string());
        const auto items = readers[i]->FirstPageItems();
        if (!items.empty()) ++partsWithItems[range];
        for (const auto& item : items) {
            if (!seen[range].insert(item).second) {
                verdict.reads = SubRangeReads::Ignored;
                return verdict;
            }
        }
    }
    for (const auto& [range, count] : partsWithItems) {
        if (count >= 2) verdict.reads = SubRangeReads::Honoured;
    }
    return verdict;
}

}  // namespace cosmosbackup
