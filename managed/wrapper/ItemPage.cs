// One page of a document feed, split into the items' own JSON texts, exactly as the service
// wrote them (see RawJson for why nothing is parsed and printed again).
using System.Collections.Generic;
using System.Text;

namespace CloudSDKWrapper
{
    internal static class ItemPage
    {
        // Properties the service adds to every item; a restore gets new ones anyway.
        private static readonly HashSet<string> SystemProperties = new HashSet<string> { "_rid", "_self", "_etag", "_attachments", "_ts" };

        public static List<string> Split(string body, bool keepSystemProperties)
        {
            int start = RawJson.SkipSpace(body, 0);
            int documents;
            if (RawJson.Member(body, start, "Documents", out documents) == null || body[documents] != '[')
                throw new CosmosException(0, "A page of items has no [Documents] list.");
            var items = new List<string>();
            foreach (var element in RawJson.Elements(body, documents))
            {
                items.Add(keepSystemProperties ? body.Substring(element.Key, element.Value - element.Key) : WithoutSystemProperties(body, element.Key));
            }
            return items;
        }

        private static string WithoutSystemProperties(string s, int objectStart)
        {
            var text = new StringBuilder();
            text.Append('{');
            foreach (var m in RawJson.Members(s, objectStart))
            {
                if (SystemProperties.Contains(RawJson.Name(s, m))) continue;
                if (text.Length > 1) text.Append(',');
                text.Append(s, m.NameStart, m.ValueEnd - m.NameStart);
            }
            return text.Append('}').ToString();
        }
    }
}
