// Session tokens per container, as the service hands them out with every answer on items
// (x-ms-session-token: "rangeId:token" parts, comma-separated). Reads of a container send the
// latest known token of each range back, so that on a session-consistency account they see
// this object's own writes (a count right after a restore is otherwise short).
using System;
using System.Collections.Generic;
using System.Globalization;
using System.Linq;

namespace CloudSDKWrapper
{
    internal sealed class SessionTokens
    {
        private readonly object m_lock = new object();
        // container link -> range id -> token
        private readonly Dictionary<string, Dictionary<string, string>> m_tokens = new Dictionary<string, Dictionary<string, string>>();

        // "dbs/{db}/colls/{c}" of a request's resource link, or null when it is not on a container.
        public static string ContainerLink(string resourceLink)
        {
            var parts = (resourceLink ?? "").Split('/');
            return parts.Length >= 4 && parts[0] == "dbs" && parts[2] == "colls" ? string.Join("/", parts, 0, 4) : null;
        }

        public void Merge(string container, string header)
        {
            if (container == null || string.IsNullOrEmpty(header)) return;
            lock (m_lock)
            {
                Dictionary<string, string> ranges;
                if (!m_tokens.TryGetValue(container, out ranges)) m_tokens[container] = ranges = new Dictionary<string, string>();
                foreach (var part in header.Split(','))
                {
                    int colon = part.IndexOf(':');
                    if (colon <= 0) continue;
                    string range = part.Substring(0, colon).Trim(), token = part.Substring(colon + 1).Trim();
                    string known;
                    if (!ranges.TryGetValue(range, out known) || Lsn(token) >= Lsn(known)) ranges[range] = token;
                }
            }
        }

        // The token to send with a read of `container`, or null when nothing was written or read there.
        public string For(string container)
        {
            if (container == null) return null;
            lock (m_lock)
            {
                Dictionary<string, string> ranges;
                if (!m_tokens.TryGetValue(container, out ranges) || ranges.Count == 0) return null;
                return string.Join(",", ranges.Select(r => r.Key + ":" + r.Value));
            }
        }

        // The global sequence number of a token: "-1#123" (and "1#123#2=120") give 123.
        private static long Lsn(string token)
        {
            var parts = token.Split('#');
            long lsn;
            return parts.Length >= 2 && long.TryParse(parts[1], NumberStyles.Integer, CultureInfo.InvariantCulture, out lsn) ? lsn : -1;
        }
    }
}
