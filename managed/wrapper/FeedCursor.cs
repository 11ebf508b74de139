// Where a container read stands: the partition key ranges still to read and the service's
// continuation within the current one. It travels through the host as the continuation text
// of GetCosmosDBData, so it is plain JSON: {"ranges":["0","1"],"token":"..."}.
using System.Collections.Generic;
using System.Linq;
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    internal sealed class FeedCursor
    {
        public readonly List<string> Ranges;
        public string Token; // the service's continuation in Ranges[0], or null at its start

        public FeedCursor(IEnumerable<string> ranges, string token)
        {
            Ranges = ranges.ToList();
            Token = token;
        }

        public bool Done { get { return Ranges.Count == 0; } }

        // "" reads every range; a range id reads that range; a JSON text goes on from a cursor.
        public static FeedCursor Parse(string text, IList<string> allRanges)
        {
            if (string.IsNullOrEmpty(text)) return new FeedCursor(allRanges, null);
            if (!text.StartsWith("{"))
            {
                if (!allRanges.Contains(text)) throw new CosmosException(0, "[" + text + "] is not a partition key range of the open container.");
                return new FeedCursor(new[] { text }, null);
            }
            var obj = Json.ParseObject(text, "The continuation");
            var ranges = obj["ranges"] as JArray;
            if (ranges == null) throw new CosmosException(0, "The continuation has no [ranges] list.");
            var token = obj["token"];
            return new FeedCursor(ranges.Select(r => (string)r), token == null || token.Type == JTokenType.Null ? null : (string)token);
        }

        // Moves on after a page that ended with `nextToken` (null: the range is finished).
        public void Advance(string nextToken)
        {
            if (string.IsNullOrEmpty(nextToken))
            {
                Ranges.RemoveAt(0);
                Token = null;
            }
            else
            {
                Token = nextToken;
            }
        }

        public override string ToString()
        {
            if (Done) return "";
            return Json.Compact(new JObject { ["ranges"] = new JArray(Ranges), ["token"] = Token });
        }
    }
}
