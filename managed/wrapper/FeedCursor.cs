// Where a container read stands: the parts of the key space still to read, each with the
// service's continuation within it. It travels through the host as the continuation text of
// GetCosmosDBData, so it is plain JSON:
//   {"ranges":[{"id":"1","minInclusive":"","maxExclusive":"7F","token":"..."},...]}
// The earlier form {"ranges":["0","1"],"token":"..."} (ids, one token for the first) is still
// read. When a range splits, its entry is replaced by one entry per child, each with the
// parent's token, which the children accept; a merged range is read within the old interval.
// A cursor also says what it reads ("read", absent for items): "changes" reads the change
// feed, each part's token then being the etag (LSN) to read on from, and a part may carry
// "until", an etag at which it counts as read; "keys" reads only the items' ids and partition
// key values (see FeedModes).
using System.Collections.Generic;
using System.Linq;
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    internal sealed class FeedCursor
    {
        internal sealed class Part
        {
            public FeedRange Range;
            public string Token; // the service's continuation in Range, or null at its start
            public string Until; // change feed only: the etag at which the part counts as read
        }

        public readonly List<Part> Parts;
        public string Mode = FeedModes.Items;
        // Change feed only: each finished part with the etag its read reached
        // ({"id","minInclusive","maxExclusive","etag"}), where the next read of it starts.
        public readonly List<JObject> Reached = new List<JObject>();

        public FeedCursor(IEnumerable<FeedRange> ranges)
        {
            Parts = ranges.Select(r => new Part { Range = r }).ToList();
        }

        public bool Done { get { return Parts.Count == 0; } }
        public Part Current { get { return Parts[0]; } }

        // "" reads every range; a range id, or a range as GetCosmosDBTokens gives it in JSON,
        // reads that range only; a continuation goes on where it stopped. `known` are the
        // container's ranges, to give an id its interval.
        public static FeedCursor Parse(string text, IList<FeedRange> known)
        {
            if (string.IsNullOrEmpty(text)) return new FeedCursor(known);
            if (!text.StartsWith("{")) return new FeedCursor(new[] { ById(text, known) });
            var obj = Json.ParseObject(text, "The continuation");
            var ranges = obj["ranges"] as JArray;
            if (ranges == null)
            {
                if (obj["id"] != null) return FeedModes.OfRange(obj);
                throw new CosmosException(0, "The continuation has no [ranges] list.");
            }
            var cursor = new FeedCursor(new FeedRange[0]) { Mode = FeedModes.Parse(obj["read"]) };
            foreach (var entry in ranges)
            {
                var part = entry as JObject;
                if (part == null)
                {
                    cursor.Parts.Add(new Part { Range = ById((string)entry, known) });
                    continue;
                }
                cursor.Parts.Add(new Part { Range = FeedRange.Parse(part, "A range of the continuation"), Token = TextOrNull(part["token"]), Until = TextOrNull(part["until"]) });
            }
            var reached = obj["reached"] as JArray;
            if (reached != null) foreach (var r in reached) cursor.Reached.Add((JObject)r);
            // The earlier form's token belongs to its first range.
            var token = TextOrNull(obj["token"]);
            if (token != null && cursor.Parts.Count > 0 && cursor.Parts[0].Token == null) cursor.Parts[0].Token = token;
            return cursor;
        }

        private static FeedRange ById(string id, IList<FeedRange> known)
        {
            var range = known.FirstOrDefault(r => r.Id == id);
            if (range == null) throw new CosmosException(0, "[" + id + "] is not a partition key range of the open container.");
            return range;
        }

        internal static string TextOrNull(JToken token)
        {
            return token == null || token.Type == JTokenType.Null ? null : (string)token;
        }

        // Moves on after a page that ended with `nextToken` (null: the part is finished).
        public void Advance(string nextToken)
        {
            if (string.IsNullOrEmpty(nextToken)) Parts.RemoveAt(0);
            else Current.Token = nextToken;
        }

        // The current part now lies in `served` (its children after a split): one part each,
        // all going on from the current token.
        // A change feed part's "until" is an etag of the range it was given for; the ranges
        // that serve it now count their own LSNs, so they read on to the feed's end.
        public void Replace(List<FeedRange> served)
        {
            string token = Current.Token;
            Parts.RemoveAt(0);
            Parts.InsertRange(0, served.Select(r => new Part { Range = r, Token = token }));
        }

        // A finished change feed read keeps its reached positions: its last continuation is
        // {"ranges":[],"read":"changes","reached":[...]}; any other finished read gives "".
        public override string ToString()
        {
            if (Done && Reached.Count == 0) return "";
            var ranges = new JArray();
            foreach (var p in Parts)
            {
                var entry = p.Range.ToJson();
                entry["token"] = p.Token;
                if (p.Until != null) entry["until"] = p.Until;
                ranges.Add(entry);
            }
            var cursor = new JObject { ["ranges"] = ranges };
            if (Mode != FeedModes.Items) cursor["read"] = Mode;
            if (Reached.Count > 0) cursor["reached"] = new JArray(Reached);
            return Json.Compact(cursor);
        }
    }
}
