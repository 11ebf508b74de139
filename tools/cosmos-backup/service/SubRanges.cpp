#include "service/SubRanges.h"

#include "service/EffectiveKeyCuts.h"
#include "support/ThreadGroup.h"

#include <exception>
#include <mutex>
#include <set>

namespace cosmosbackup {

std::vector<ReadPart> PlanSubRanges(const std::vector<ReadPart>& ranges, int readers, const nlohmann::json& partitionKey) {
    const int count = static_cast<int>(ranges.size());
    if (count == 0 || count >= readers) return ranges;
    std::vector<ReadPart> parts;
    for (int i = 0; i < count; ++i) {
        const auto& range = ranges[static_cast<std::size_t>(i)];
        const int share = readers / count + (i < readers % count ? 1 : 0);
        const std::string min = range.minInclusive;
        const std::string max = range.maxExclusive;
        // Each part keeps its range's other members (a change feed read's mode and position).
        const auto part = [&range](const std::string& from, const std::string& to) {
            ReadPart narrowed = range;
            narrowed.minInclusive = from;
            narrowed.maxExclusive = to;
            return narrowed;
        };
        std::string from = min;
        for (const auto& cut : CutPoints(min, max, partitionKey, share)) {
            parts.push_back(part(from, cut));
            from = cut;
        }
        parts.push_back(part(from, max));
    }
    return parts;
}

namespace {

// Reads the first page of both readers at once; a failure makes the verdict Refused.
void ReadFirstPages(RangeReader& a, RangeReader& b, SubRangeVerdict& verdict) {
    std::mutex failureLock;
    ThreadGroup threads;
    for (RangeReader* r : {&a, &b}) {
        threads.Start([r, &verdict, &failureLock] {
            try {
                r->ReadFirstPage();
            } catch (const std::exception& e) {
                std::lock_guard<std::mutex> hold(failureLock);
                // The service refuses a read it cannot serve with 400; anything else is a
                // failure of its own, which must not pass for a refusal.
                if (std::string(e.what()).find(" failed: 400") != std::string::npos) {
                    verdict.reads = SubRangeReads::Refused;
                    verdict.reason = e.what();
                } else if (!verdict.failure) {
                    verdict.failure = std::current_exception();
                }
            }
        });
    }
    threads.JoinAll();
}

}  // namespace

// Neighbouring parts of one range are read in pairs until a pair tells: both with items and
// none shared (honoured), or an item in both (ignored). One pair usually settles it, so a
// server that ignores the bounds costs two pages; the pages read stay with their readers.
SubRangeVerdict ProbeSubRanges(RangeReaders& readers, const std::vector<ReadPart>& parts) {
    SubRangeVerdict verdict;
    for (std::size_t i = 0; i + 1 < readers.size(); ++i) {
        if (parts[i].id != parts[i + 1].id) continue;
        ReadFirstPages(*readers[i], *readers[i + 1], verdict);
        if (verdict.failure || verdict.reads == SubRangeReads::Refused) return verdict;
        const auto first = readers[i]->FirstPageItems();
        const auto second = readers[i + 1]->FirstPageItems();
        const std::set<std::string> seen(first.begin(), first.end());
        for (const auto& item : second) {
            if (seen.count(item) > 0) {
                verdict.reads = SubRangeReads::Ignored;
                return verdict;
            }
        }
        if (!first.empty() && !second.empty()) {
            verdict.reads = SubRangeReads::Honoured;
            return verdict;
        }
        ++i;  // the next pair starts after this one: no page is read twice
    }
    return verdict;
}

}  // namespace cosmosbackup
