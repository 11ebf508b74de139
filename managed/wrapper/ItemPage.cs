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

        // `changeFeed`: the items come from the change feed, whose _lsn is no part of the item.
        public static List<string> Split(string body, bool keepSystemProperties, bool changeFeed = false)
        {
            var items = new List<string>();
            foreach (var element in Documents(body, "items"))
            {
                if (changeFeed) items.Add(Without(body, element.Key, keepSystemProperties ? ChangeFeedOnly : ChangeFeedProperties));
                else items.Add(keepSystemProperties ? body.Substring(element.Key, element.Value - element.Key) : Without(body, element.Key, SystemProperties));
            }
            return items;
        }

        // (start, end) of each element of the page's [Documents] list; `what` names them in the error.
        public static List<KeyValuePair<int, int>> Documents(string body, string what)
        {
            int start = RawJson.SkipSpace(body, 0);
            int documents;
            if (RawJson.Member(body, start, "Documents", out documents) == null || body[documents] != '[')
                throw new CosmosException(0, "A page of " + what + " has no [Documents] list.");
            return RawJson.Elements(body, documents);
        }

        private static readonly HashSet<string> ChangeFeedOnly = new HashSet<string> { "_lsn" };
        private static readonly HashSet<string> ChangeFeedProperties = new HashSet<string>(SystemProperties) { "_lsn" };

        private static string Without(string s, int objectStart, HashSet<string> dropped)
        {
            var text = new StringBuilder();
            text.Append('{');
            foreach (var m in RawJson.Members(s, objectStart))
            {
                if (dropped.Contains(RawJson.Name(s, m))) continue;
                if (text.Length > 1) text.Append(',');
                text.Append(s, m.NameStart, m.ValueEnd - m.NameStart);
            }
            return text.Append('}').ToString();
        }
    }
}
