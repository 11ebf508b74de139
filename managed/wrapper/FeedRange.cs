// A part of a container's key space: the partition key range that serves it (by id) and the
// interval of effective partition keys [Min, Max) it covers. Ranges split and merge; the
// interval stays the same, so a read is tied to the interval and the id is only where it is
// served now.
using System;
using System.Collections.Generic;
using System.Linq;
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    internal sealed class FeedRange
    {
        // Effective keys are upper-case hex texts; "" is the lowest and "FF" lies above them all,
        // so ordinal order is key order.
        public readonly string Id;
        public readonly string Min;
        public readonly string Max;

        public FeedRange(string id, string min, string max)
        {
            Id = id ?? "";
            Min = min ?? "";
            Max = max ?? "FF";
        }

        // A range as the pkranges feed lists it.
        public static FeedRange OfService(JObject range)
        {
            return new FeedRange((string)range["id"], (string)range["minInclusive"], (string)range["maxExclusive"]);
        }

        // {"id","minInclusive","maxExclusive"}: as GetCosmosDBTokens gives it and cursors keep it.
        public JObject ToJson()
        {
            return new JObject { ["id"] = Id, ["minInclusive"] = Min, ["maxExclusive"] = Max };
        }

        public static FeedRange Parse(JObject obj, string what)
        {
            var id = obj["id"];
            if (id == null || id.Type != JTokenType.String) throw new CosmosException(0, what + " has no text [id].");
            return new FeedRange((string)id, (string)obj["minInclusive"], (string)obj["maxExclusive"]);
        }

        public bool Overlaps(FeedRange other)
        {
            return string.CompareOrdinal(Min, other.Max) < 0 && string.CompareOrdinal(other.Min, Max) < 0;
        }

        // True when this interval is all of `served`'s, so no key bounds need to be sent.
        public bool Covers(FeedRange served)
        {
            return Min == served.Min && Max == served.Max;
        }

        // The ranges of `current` that now serve this interval, each cut to the part of the
        // interval it serves, in key order. After a split these are the children; after a
        // merge, the one range that took this one in (cut to this interval).
        public List<FeedRange> ServedBy(IEnumerable<FeedRange> current)
        {
            return current.Where(Overlaps)
                .OrderBy(r => r.Min, StringComparer.Ordinal)
                .Select(r => new FeedRange(r.Id, Max1(Min, r.Min), Min1(Max, r.Max)))
                .ToList();
        }

        private static string Max1(string a, string b) { return string.CompareOrdinal(a, b) >= 0 ? a : b; }
        private static string Min1(string a, string b) { return string.CompareOrdinal(a, b) <= 0 ? a : b; }

        public override string ToString() { return Id + " [" + Min + ", " + Max + ")"; }
    }
}
