// One range's session token: "VERSION#GLOBALLSN" with "#REGION=LSN" parts per region on a
// multi-region account (a bare "LSN" from older services counts as version -1). Two tokens of
// one range merge as the official SDKs merge them: the higher version's regions, each at the
// larger LSN of the two, and the larger global LSN.
using System;
using System.Collections.Generic;
using System.Globalization;
using System.Linq;
using System.Text;

namespace CloudSDKWrapper
{
    internal sealed class VectorSessionToken
    {
        public readonly long Version;
        public readonly long GlobalLsn;
        // region id -> that region's LSN, in region order
        private readonly SortedDictionary<int, long> m_regions;
        private readonly string m_text;

        private VectorSessionToken(long version, long globalLsn, SortedDictionary<int, long> regions, string text)
        {
            Version = version;
            GlobalLsn = globalLsn;
            m_regions = regions;
            m_text = text ?? Format(version, globalLsn, regions);
        }

        // The token, or null when `text` is not one.
        public static VectorSessionToken Parse(string text)
        {
            text = (text ?? "").Trim();
            var parts = text.Split('#');
            long version = -1, global;
            if (parts.Length == 1) return Number(parts[0], out global) ? new VectorSessionToken(-1, global, new SortedDictionary<int, long>(), text) : null;
            if (!Number(parts[0], out version) || !Number(parts[1], out global)) return null;
            var regions = new SortedDictionary<int, long>();
            for (int i = 2; i < parts.Length; i++)
            {
                var pair = parts[i].Split('=');
                long region, lsn;
                if (pair.Length != 2 || !Number(pair[0], out region) || !Number(pair[1], out lsn) || region < 0 || region > int.MaxValue) return null;
                regions[(int)region] = lsn;
            }
            return new VectorSessionToken(version, global, regions, text);
        }

        public VectorSessionToken Merge(VectorSessionToken other)
        {
            if (other == null) return this;
            var higher = Version >= other.Version ? this : other;
            var lower = ReferenceEquals(higher, this) ? other : this;
            var regions = new SortedDictionary<int, long>();
            foreach (var region in higher.m_regions)
            {
                long theirs;
                regions[region.Key] = lower.m_regions.TryGetValue(region.Key, out theirs) ? Math.Max(region.Value, theirs) : region.Value;
            }
            // Same version, same regions: a region only one of them knows is kept as well.
            if (Version == other.Version)
            {
                foreach (var region in lower.m_regions.Where(r => !regions.ContainsKey(r.Key))) regions[region.Key] = region.Value;
            }
            long global = Math.Max(GlobalLsn, other.GlobalLsn);
            if (higher.GlobalLsn == global && SameRegions(higher.m_regions, regions)) return higher;
            return new VectorSessionToken(higher.Version, global, regions, null);
        }

        public override string ToString()
        {
            return m_text;
        }

        private static bool SameRegions(SortedDictionary<int, long> a, SortedDictionary<int, long> b)
        {
            return a.Count == b.Count && a.All(r => b.ContainsKey(r.Key) && b[r.Key] == r.Value);
        }

        private static string Format(long version, long global, SortedDictionary<int, long> regions)
        {
            var text = new StringBuilder().Append(version.ToString(CultureInfo.InvariantCulture)).Append('#').Append(global.ToString(CultureInfo.InvariantCulture));
            foreach (var region in regions)
                text.Append('#').Append(region.Key.ToString(CultureInfo.InvariantCulture)).Append('=').Append(region.Value.ToString(CultureInfo.InvariantCulture));
            return text.ToString();
        }

        private static bool Number(string text, out long value)
        {
            return long.TryParse(text.Trim(), NumberStyles.AllowLeadingSign, CultureInfo.InvariantCulture, out value);
        }
    }
}
