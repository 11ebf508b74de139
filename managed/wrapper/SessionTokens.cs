// Session tokens per container and partition key range, as the service hands them out with
// every answer on items (x-ms-session-token: "rangeId:token" parts, comma-separated). A read
// addressed to one range sends that range's token only, so that the header stays small however
// many ranges a container has (every range's token at once grows past the service's header
// limit on large containers); a range without a token of its own (a child of a split or a
// merge) sends its parents' tokens merged into one. Writes send none. Once a fresh range list
// shows a range gone, its token passes to the live ranges that came from it and is dropped.
using System;
using System.Collections.Generic;
using System.Linq;
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    internal sealed class SessionTokens
    {
        private sealed class ContainerTokens
        {
            // range id -> the newest token seen for it
            public readonly Dictionary<string, VectorSessionToken> Tokens = new Dictionary<string, VectorSessionToken>();
            // live range id -> the ids it came from (the pkranges feed's "parents")
            public readonly Dictionary<string, List<string>> Parents = new Dictionary<string, List<string>>();
        }

        private readonly object m_lock = new object();
        // container link -> its ranges' tokens
        private readonly Dictionary<string, ContainerTokens> m_containers = new Dictionary<string, ContainerTokens>();

        // "dbs/{db}/colls/{c}" of a request's resource link, or null when it is not on a container.
        public static string ContainerLink(string resourceLink)
        {
            var parts = (resourceLink ?? "").Split('/');
            return parts.Length >= 4 && parts[0] == "dbs" && parts[2] == "colls" ? string.Join("/", parts, 0, 4) : null;
        }

        // Keeps the tokens of a session-token header, each merged with what is known of its range.
        public void Merge(string container, string header)
        {
            if (container == null || string.IsNullOrEmpty(header)) return;
            lock (m_lock)
            {
                var known = Of(container);
                foreach (var part in header.Split(','))
                {
                    int colon = part.IndexOf(':');
                    if (colon <= 0) continue;
                    string range = part.Substring(0, colon).Trim();
                    var token = VectorSessionToken.Parse(part.Substring(colon + 1));
                    if (token == null) continue;
                    VectorSessionToken old;
                    known.Tokens[range] = known.Tokens.TryGetValue(range, out old) ? old.Merge(token) : token;
                }
            }
        }

        // The header for a read of `range` of `container`: "range:token" with the range's own
        // token, or its parents' merged; null when none of them has one.
        public string ForRange(string container, string range)
        {
            if (container == null || string.IsNullOrEmpty(range)) return null;
            lock (m_lock)
            {
                ContainerTokens known;
                if (!m_containers.TryGetValue(container, out known)) return null;
                var token = TokenOf(known, range);
                return token == null ? null : range + ":" + token;
            }
        }

        // Every live range's token, comma-separated (what a later process needs to read this
        // one's writes), or null when nothing was written or read there.
        public string For(string container)
        {
            if (container == null) return null;
            lock (m_lock)
            {
                ContainerTokens known;
                if (!m_containers.TryGetValue(container, out known) || known.Tokens.Count == 0) return null;
                return string.Join(",", known.Tokens.OrderBy(t => t.Key, StringComparer.Ordinal).Select(t => t.Key + ":" + t.Value));
            }
        }

        // The container's ranges as just listed ({"id","parents"}): a live range without a token
        // inherits its parents' merged, then the tokens of ranges no longer listed go.
        public void Retain(string container, IEnumerable<JObject> liveRanges)
        {
            if (container == null) return;
            lock (m_lock)
            {
                var known = Of(container);
                known.Parents.Clear();
                foreach (var range in liveRanges)
                {
                    string id = (string)range["id"];
                    if (id == null) continue;
                    var parents = range["parents"] as JArray;
                    known.Parents[id] = parents == null ? new List<string>() : parents.Select(p => (string)p).Where(p => p != null).ToList();
                }
                foreach (var id in known.Parents.Keys.ToList())
                {
                    var token = TokenOf(known, id);
                    if (token != null) known.Tokens[id] = token;
                }
                foreach (var gone in known.Tokens.Keys.Where(id => !known.Parents.ContainsKey(id)).ToList()) known.Tokens.Remove(gone);
            }
        }

        private ContainerTokens Of(string container)
        {
            ContainerTokens known;
            if (!m_containers.TryGetValue(container, out known)) m_containers[container] = known = new ContainerTokens();
            return known;
        }

        private static VectorSessionToken TokenOf(ContainerTokens known, string range)
        {
            VectorSessionToken token;
            if (known.Tokens.TryGetValue(range, out token)) return token;
            List<string> parents;
            if (!known.Parents.TryGetValue(range, out parents)) return null;
            VectorSessionToken merged = null;
            foreach (var parent in parents)
            {
                if (!known.Tokens.TryGetValue(parent, out token)) continue;
                merged = merged == null ? token : merged.Merge(token);
            }
            return merged;
        }
    }
}
