// A page of the "all versions and deletes" change feed as short texts, one per change:
// {"operationType","lsn","key":[id, value at each partition key path],"timeToLiveExpired"}.
// A change is {"current","previous","metadata"}; a delete has no "current" and names its
// item in the metadata ("id", "partitionKey": path -> value), or failing that in "previous".
using System.Collections.Generic;
using System.Linq;
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    internal static class AllVersionsChanges
    {
        public static List<string> Texts(string body, PartitionKeyDefinition key)
        {
            var page = Json.ParseObject(body, "the all versions and deletes change feed page");
            var documents = page["Documents"] as JArray;
            if (documents == null) throw new CosmosException(0, "An all versions and deletes change feed page has no [Documents] list.");
            return documents.Select(d => Json.Compact(Change(d as JObject, key))).ToList();
        }

        private static JObject Change(JObject change, PartitionKeyDefinition key)
        {
            var metadata = change == null ? null : change["metadata"] as JObject;
            string operation = metadata == null ? null : (string)metadata["operationType"];
            if (operation == null) throw new CosmosException(0, "A change of the all versions and deletes feed has no metadata.operationType.");
            operation = operation.ToLowerInvariant();
            var item = change[operation == "delete" ? "previous" : "current"] as JObject;
            var keyText = operation == "delete" ? DeletedKey(metadata, item, key) : ItemKey(item, key);
            if (keyText == null) throw new CosmosException(0, "A " + operation + " of the all versions and deletes feed does not name its item.");
            return new JObject
            {
                ["operationType"] = operation,
                ["lsn"] = metadata["lsn"] ?? 0,
                ["key"] = keyText,
                ["timeToLiveExpired"] = metadata["timeToLiveExpired"] != null && metadata["timeToLiveExpired"].Type == JTokenType.Boolean && (bool)metadata["timeToLiveExpired"],
            };
        }

        // [id, value at each path] of an item, {} where it has none (as the tool keys items).
        private static JArray ItemKey(JObject item, PartitionKeyDefinition key)
        {
            if (item == null || item["id"] == null || item["id"].Type != JTokenType.String) return null;
            var text = new JArray(item["id"]);
            foreach (var path in key.Paths)
            {
                JToken value = item;
                foreach (var segment in path) value = value is JObject ? value[segment] : null;
                text.Add(value == null ? new JObject() : value.DeepClone());
            }
            return text;
        }

        // A deleted item's key from the metadata's id and partition key (members named by their
        // path, "/a/b" or "a/b", or else in path order); from its previous image without them.
        private static JArray DeletedKey(JObject metadata, JObject previous, PartitionKeyDefinition key)
        {
            var id = metadata["id"];
            var values = metadata["partitionKey"] as JObject;
            if (id == null || id.Type != JTokenType.String || values == null) return ItemKey(previous, key);
            var text = new JArray(id);
            var members = values.Properties().ToList();
            for (int p = 0; p < key.Paths.Count; p++)
            {
                string name = string.Join("/", key.Paths[p]);
                var value = values["/" + name] ?? values[name] ?? (members.Count == key.Paths.Count ? members[p].Value : null);
                text.Add(value == null ? new JObject() : value.DeepClone());
            }
            return text;
        }
    }
}
