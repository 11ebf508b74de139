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

        // The header for an item given as JSON text. Values are taken from the text as they
        // are, so a numeric key keeps every digit.
        public string HeaderFor(string item, int objectStart)
        {
            // A container made before partitioning existed (its key is the service's own) takes [].
            var systemKey = Definition["systemKey"];
            if (systemKey != null && systemKey.Type == JTokenType.Boolean && (bool)systemKey) return "[]";
            var values = new List<string>();
            foreach (var segments in m_paths) values.Add(ValueAt(item, objectStart, segments));
            if (m_paths.Count == 0) values.Add("{}");
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
            if (raw == null || raw.Length == 0) return "{}";
            char c = raw[0];
            if (c == '"') return Json.CompactAscii(Json.Parse(raw));
            if (c == '{' || c == '[') return "{}";
            return raw;  // a number, true, false or null
        }
    }
}
