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
        // Effective keys are upper-case hex texts; "" is the lowest and "FF" lies above them all
        // (see Compare for their order).
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

        public bool Overlaps(FeedRange other, bool lengthAware)
        {
            return Compare(Min, other.Max, lengthAware) < 0 && Compare(other.Min, Max, lengthAware) < 0;
        }

        // True when this interval is all of `served`'s, so no key bounds need to be sent.
        public bool Covers(FeedRange served, bool lengthAware)
        {
            return Compare(Min, served.Min, lengthAware) == 0 && Compare(Max, served.Max, lengthAware) == 0;
        }

        // The ranges of `current` that now serve this interval, each cut to the part of the
        // interval it serves, in key order. After a split these are the children; after a
        // merge, the one range that took this one in (cut to this interval).
        public List<FeedRange> ServedBy(IEnumerable<FeedRange> current, bool lengthAware)
        {
            return current.Where(r => Overlaps(r, lengthAware))
                .OrderBy(r => r.Min, new KeyOrder(lengthAware))
                .Select(r => new FeedRange(r.Id, Compare(Min, r.Min, lengthAware) >= 0 ? Min : r.Min, Compare(Max, r.Max, lengthAware) <= 0 ? Max : r.Max))
                .ToList();
        }

        // Effective keys in key order. Hierarchical (MultiHash) keys hash each path to 32 hex
        // digits and a boundary may be written with fewer paths than the key has, so the
        // service compares them length-aware: the shorter is read as padded with zeros
        // ("AB" equals "AB00"). Other keys compare as plain text.
        public static int Compare(string a, string b, bool lengthAware)
        {
            if (!lengthAware || a.Length == b.Length) return string.CompareOrdinal(a, b);
            int length = Math.Max(a.Length, b.Length);
            return string.CompareOrdinal(a.PadRight(length, '0'), b.PadRight(length, '0'));
        }

        private sealed class KeyOrder : IComparer<string>
        {
            private readonly bool m_lengthAware;
            public KeyOrder(bool lengthAware) { m_lengthAware = lengthAware; }
            public int Compare(string a, string b) { return FeedRange.Compare(a, b, m_lengthAware); }
        }

        public override string ToString() { return Id + " [" + Min + ", " + Max + ")"; }
    }
}
