// One page of a document feed, split into the items' own JSON texts. The page is streamed
// token by token so that only one item at a time is held as a tree.
using System.Collections.Generic;
using Newtonsoft.Json;
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    internal static class ItemPage
    {
        // Properties the service adds to every item; a restore gets new ones anyway.
        private static readonly string[] SystemProperties = { "_rid", "_self", "_etag", "_attachments", "_ts" };

        public static List<string> Split(string body, bool keepSystemProperties)
        {
            var items = new List<string>();
            using (var reader = Json.Reader(body))
            {
                if (!reader.Read() || reader.TokenType != JsonToken.StartObject) throw new CosmosException(0, "A page of items is not a JSON object.");
                bool found = false;
                while (reader.Read() && reader.TokenType == JsonToken.PropertyName)
                {
                    string name = (string)reader.Value;
                    reader.Read();
                    if (name != "Documents")
                    {
                        reader.Skip();
                        continue;
                    }
                    if (reader.TokenType != JsonToken.StartArray) throw new CosmosException(0, "The [Documents] of a page is not a list.");
                    found = true;
                    while (reader.Read() && reader.TokenType != JsonToken.EndArray)
                    {
                        var item = JToken.ReadFrom(reader) as JObject;
                        if (item == null) throw new CosmosException(0, "A page holds an item that is not a JSON object.");
                        if (!keepSystemProperties)
                        {
                            foreach (var p in SystemProperties) item.Remove(p);
                        }
                        items.Add(Json.Compact(item));
                    }
                }
                if (!found) throw new CosmosException(0, "A page of items has no [Documents] list.");
            }
            return items;
        }
    }
}
