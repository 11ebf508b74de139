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

        public string HeaderFor(JObject item)
        {
            var values = new JArray();
            foreach (var segments in m_paths)
            {
                JToken value = item;
                foreach (var s in segments)
                {
                    var obj = value as JObject;
                    value = obj != null ? obj[s] : null;
                    if (value == null) break;
                }
                bool usable = value != null && (value.Type == JTokenType.String || value.Type == JTokenType.Integer ||
                    value.Type == JTokenType.Float || value.Type == JTokenType.Boolean || value.Type == JTokenType.Null);
                values.Add(usable ? value.DeepClone() : new JObject());
            }
            if (m_paths.Count == 0) values.Add(new JObject());
            return Json.CompactAscii(values);
        }
    }
}
