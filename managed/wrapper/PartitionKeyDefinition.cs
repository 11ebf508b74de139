// A container's partition key definition and the partition key header of an item: a JSON
// array with the item's value at each key path, ASCII-escaped, or [{}] where the item has none.
using System.Collections.Generic;
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    internal sealed class PartitionKeyDefinition
    {
        private readonly List<string[]> m_paths = new List<string[]>();
        public readonly JObject Definition;

        public PartitionKeyDefinition(JObject definition)
        {
            Definition = definition ?? new JObject();
            var paths = Definition["paths"] as JArray;
            if (paths == null) return;
            foreach (var p in paths) m_paths.Add(Segments((string)p));
        }

        public int Version
        {
            get
            {
                var v = Definition["version"];
                return v != null && v.Type == JTokenType.Integer ? (int)v : 1;
            }
        }

        // "/a/b" gives [a, b]; a segment may be quoted ("/\"a b\"").
        private static string[] Segments(string path)
        {
            var parts = new List<string>();
            foreach (var raw in (path ?? "").Split('/'))
            {
                if (raw.Length == 0) continue;
                parts.Add(raw.Length >= 2 && raw[0] == '"' && raw[raw.Length - 1] == '"' ? raw.Substring(1, raw.Length - 2) : raw);
            }
            return parts.ToArray();
        }

        // The key paths, each as its segments ("/a/b" gives [a, b]).
        public IList<string[]> Paths { get { return m_paths; } }

        // Hierarchical keys of more than one path: their range boundaries compare length-aware
        // (FeedRange.Compare).
        public bool LengthAwareBoundaries
        {
            get { return (string)Definition["kind"] == "MultiHash" && m_paths.Count > 1; }
        }

        public bool IsSystemKey
        {
            get
            {
                var systemKey = Definition["systemKey"];
                return systemKey != null && systemKey.Type == JTokenType.Boolean && (bool)systemKey;
            }
        }

        // The header for an item given as JSON text. Values are taken from the text as they
        // are, so a numeric key keeps every digit.
        public string HeaderFor(string item, int objectStart)
        {
            var values = new List<string>();
            foreach (var segments in m_paths) values.Add(ValueAt(item, objectStart, segments));
            return HeaderOf(values);
        }

        // The header for the raw JSON values at the key paths, in path order.
        public string HeaderForValues(IList<string> raws)
        {
            var values = new List<string>();
            foreach (var raw in raws) values.Add(HeaderValue(raw));
            return HeaderOf(values);
        }

        // A container made before partitioning existed has the service's own key
        // (/_partitionKey, systemKey true): an item that carries a _partitionKey value is
        // addressed by [value], one without by [] (as the official SDKs' extractPartitionKey).
        private string HeaderOf(List<string> values)
        {
            if (IsSystemKey) return values.Count == 1 && values[0] != "{}" ? "[" + values[0] + "]" : "[]";
            if (values.Count == 0) values.Add("{}");
            return "[" + string.Join(",", values) + "]";
        }

        private static string ValueAt(string item, int objectStart, string[] segments)
        {
            int at = objectStart;
            string raw = null;
            foreach (var segment in segments)
            {
                if (at < 0 || item[at] != '{') return "{}";
                raw = RawJson.Member(item, at, segment, out at);
                if (raw == null) return "{}";
            }
            return HeaderValue(raw);
        }

        private static string HeaderValue(string raw)
        {
            if (raw == null || raw.Length == 0) return "{}";
            char c = raw[0];
            if (c == '"') return Json.CompactAscii(Json.Parse(raw));
            if (c == '{' || c == '[') return "{}";
            return raw;  // a number, true, false or null
        }
    }
}
