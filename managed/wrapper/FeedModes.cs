// What a container read reads besides the items themselves: the change feed of a range, or
// only the keys (id and partition key values) of its items. A read names its mode in the
// JSON it is started from (a range as GetCosmosDBTokens gives it, with more members):
//   {"id","minInclusive","maxExclusive","read":"changes","since":ETAG,"until":ETAG}
//       the latest version of every item of the range changed after ETAG (an LSN etag as
//       GetCosmosDBTokens(-4) gives it; no "since" = from the feed's start), until the feed
//       has nothing newer (304) or has reached "until"; the last continuation of such a read
//       lists where each part ended ("reached", FeedCursor), for the next read to start from;
//   {"id","minInclusive","maxExclusive","read":"allVersions","since":ETAG}
//       every create, replace and delete of the range after ETAG (a position GetCosmosDBTokens(-4)
//       gives as "allVersionsEtag") from the "all versions and deletes" feed, to its end, one
//       text per change: {"operationType","lsn","key":[id, values...],"timeToLiveExpired"};
//       the last continuation lists the reached positions as a "changes" read does. Where the
//       service refuses the read (400: the account lacks the mode, or ETAG is older than its
//       retention window) the read ends with one text {"unavailable": the service's reason};
//   {"id","minInclusive","maxExclusive","read":"keys"}
//       one text per item: [id, value at each partition key path], values as the service
//       wrote them, {} where the item has none - a key-only query, far cheaper than the items.
// The continuation of such a read carries the mode ("read") and goes on like an item read,
// across splits and merges.
using System.Collections.Generic;
using System.Globalization;
using System.Text;
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    internal static class FeedModes
    {
        public const string Items = "items";
        public const string Changes = "changes";
        public const string Keys = "keys";
        public const string AllVersions = "allVersions";
        // The request headers of the "all versions and deletes" feed.
        public const string AllVersionsFeed = "Full-Fidelity Feed";
        public const string AllVersionsWireFormat = "2021-09-15";

        public static string Parse(JToken mode)
        {
            string text = FeedCursor.TextOrNull(mode) ?? Items;
            if (text != Items && text != Changes && text != Keys && text != AllVersions)
                throw new CosmosException(0, "A read is of \"items\", \"changes\", \"allVersions\" or \"keys\", not [" + text + "].");
            return text;
        }

        // A cursor over one range, as a range's JSON with an optional mode asks.
        public static FeedCursor OfRange(JObject range)
        {
            var cursor = new FeedCursor(new[] { FeedRange.Parse(range, "The range") }) { Mode = Parse(range["read"]) };
            if (cursor.Mode == Changes || cursor.Mode == AllVersions)
            {
                cursor.Current.Token = FeedCursor.TextOrNull(range["since"]);
                cursor.Current.Until = FeedCursor.TextOrNull(range["until"]);
            }
            return cursor;
        }

        // Turns an item page request (range, key bounds, continuation) into this mode's request.
        public static void Shape(RestRequest request, FeedCursor cursor, PartitionKeyDefinition key)
        {
            if (cursor.Mode == Changes || cursor.Mode == AllVersions)
            {
                request.Headers.Remove("x-ms-continuation");
                request.Headers["A-IM"] = cursor.Mode == Changes ? "Incremental feed" : AllVersionsFeed;
                if (cursor.Mode == AllVersions) request.Headers["x-ms-cosmos-changefeed-wire-format-version"] = AllVersionsWireFormat;
                if (cursor.Current.Token != null) request.Headers["If-None-Match"] = cursor.Current.Token;
                request.What = "read the " + (cursor.Mode == Changes ? "" : "all versions and deletes ") + "change feed of " + cursor.Current.Range +
                               " of " + request.What.Substring(request.What.IndexOf('['));
                return;
            }
            CosmosService.Query(request, KeyQuery(key));
            request.Headers["x-ms-documentdb-query-enablecrosspartition"] = "True";
            request.What = "read the keys of " + request.What.Substring(request.What.IndexOf('['));
        }

        // SELECT c["id"] AS i, c["a"]["b"] AS k0, ... FROM c
        private static string KeyQuery(PartitionKeyDefinition key)
        {
            var sql = new StringBuilder("SELECT c[\"id\"] AS i");
            for (int p = 0; p < key.Paths.Count; p++)
            {
                sql.Append(", c");
                foreach (var segment in key.Paths[p]) sql.Append('[').Append(Json.Quote(segment)).Append(']');
                sql.Append(" AS k").Append(p.ToString(CultureInfo.InvariantCulture));
            }
            return sql.Append(" FROM c").ToString();
        }

        // The page's texts, and the cursor moved past it.
        public static List<string> TakePage(RestRequest request, RestResponse response, FeedCursor cursor, PartitionKeyDefinition key)
        {
            if (cursor.Mode == Changes) return TakeChanges(request, response, cursor);
            if (cursor.Mode == AllVersions) return TakeAllVersions(request, response, cursor, key);
            if (!response.Ok) throw CosmosService.Failure(request, response);
            var keys = KeyTexts(response.Body, key.Paths.Count);
            cursor.Advance(response.Header("x-ms-continuation"));
            return keys;
        }

        // 304: nothing changed since the part's etag, the part is read. 200: the changes, and
        // the etag to go on from; the part is read once it reaches its "until".
        private static List<string> TakeChanges(RestRequest request, RestResponse response, FeedCursor cursor)
        {
            return TakeFeedPage(request, response, cursor, body => ItemPage.Split(body, false, true));
        }

        // As TakeChanges; a 400 ends the read with the reason the mode cannot be read.
        private static List<string> TakeAllVersions(RestRequest request, RestResponse response, FeedCursor cursor, PartitionKeyDefinition key)
        {
            if (response.Status == 400 && !CosmosService.IsRequestTooLong(response))
            {
                string reason = CosmosService.Failure(request, response).Message;
                cursor.Parts.Clear();
                cursor.Reached.Clear();
                return new List<string> { Json.Compact(new JObject { ["unavailable"] = reason }) };
            }
            return TakeFeedPage(request, response, cursor, body => AllVersionsChanges.Texts(body, key));
        }

        private static List<string> TakeFeedPage(RestRequest request, RestResponse response, FeedCursor cursor, System.Func<string, List<string>> texts)
        {
            string etag = response.Header("etag");
            if (response.Status == 304)
            {
                if (!string.IsNullOrEmpty(etag)) Lsn(etag);
                ReachedEnd(cursor, etag ?? cursor.Current.Token);
                return new List<string>();
            }
            if (!response.Ok) throw CosmosService.Failure(request, response);
            if (string.IsNullOrEmpty(etag)) throw new CosmosException(response.Status, request.What + ": the answer has no etag.");
            var items = texts(response.Body);
            var part = cursor.Current;
            bool reached = part.Until != null && Lsn(etag) >= Lsn(part.Until);
            if (reached) ReachedEnd(cursor, etag);
            else cursor.Advance(etag);
            return items;
        }

        // The current part is read up to `etag`: it is kept among the reached positions (where
        // the next read of its interval starts) and the cursor moves on.
        private static void ReachedEnd(FeedCursor cursor, string etag)
        {
            var position = cursor.Current.Range.ToJson();
            position["etag"] = etag;
            cursor.Reached.Add(position);
            cursor.Advance(null);
        }

        // The LSN an etag stands for ("123", W/"123" or 123).
        public static long Lsn(string etag)
        {
            string digits = (etag ?? "").Trim();
            if (digits.StartsWith("W/")) digits = digits.Substring(2);
            digits = digits.Trim('"');
            long lsn;
            if (!long.TryParse(digits, NumberStyles.None, CultureInfo.InvariantCulture, out lsn))
                throw new CosmosException(0, "[" + etag + "] is not an etag of the change feed.");
            return lsn;
        }

        // [id, k0, k1, ...] of each row; a value the row lacks is {}.
        private static List<string> KeyTexts(string body, int keyCount)
        {
            var keys = new List<string>();
            foreach (var element in ItemPage.Documents(body, "keys"))
            {
                var values = new Dictionary<string, string>();
                foreach (var m in RawJson.Members(body, element.Key))
                    values[RawJson.Name(body, m)] = body.Substring(m.ValueStart, m.ValueEnd - m.ValueStart);
                string id;
                if (!values.TryGetValue("i", out id) || id.Length == 0 || id[0] != '"') throw new CosmosException(0, "A row of keys has no text id.");
                var text = new StringBuilder("[").Append(id);
                for (int k = 0; k < keyCount; k++)
                {
                    string value;
                    text.Append(',').Append(values.TryGetValue("k" + k.ToString(CultureInfo.InvariantCulture), out value) ? value : "{}");
                }
                keys.Add(text.Append(']').ToString());
            }
            return keys;
        }
    }
}
