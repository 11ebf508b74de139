// Where each range's change feed stands now: what an incremental backup records before it
// reads, so that the next one reads the changes after it. Where the account offers the "all
// versions and deletes" mode, that feed's position as well, from which the next increment
// reads the deletions.
using System.Collections.Generic;
using System.Linq;
using System.Threading.Tasks;
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    public partial class CAzureResourceWrapper
    {
        public const long ChangeFeedPositionsCode = -4;

        // Each live range with the etag of its change feed now ({"id","minInclusive",
        // "maxExclusive","etag"}, and "allVersionsEtag" where the account has that mode): the
        // feed read with If-None-Match "*" answers 304 and the etag to read on from. A range
        // that splits meanwhile (410) makes the list start again.
        // The ranges are asked all at once: each answer is one small request's round trip.
        private List<JObject> ChangeFeedPositions(ContainerRef c)
        {
            for (int attempt = 1; ; attempt++)
            {
                try
                {
                    var ranges = ReadRanges(c);
                    // One range tells whether the account has the all versions and deletes mode:
                    // without it every range would answer 400.
                    string probe = ranges.Count > 0 ? EtagNowAsync(c, ranges[0], true).GetAwaiter().GetResult() : null;
                    var asked = ranges.Select((r, i) => PositionOfAsync(c, r, probe != null, i == 0 ? probe : null)).ToList();
                    return Task.WhenAll(asked).GetAwaiter().GetResult().ToList();
                }
                catch (CosmosException e) when (e.StatusCode == 410 && attempt < MaxGoneRetries)
                {
                    if (e.SubStatusCode == SubStatus.NameCacheIsStale) CheckNotRecreated(c);
                    m_trace("reading the change feed positions again after: " + e.Message);
                }
            }
        }

        private async Task<JObject> PositionOfAsync(ContainerRef c, FeedRange range, bool withAllVersions, string allVersionsEtag)
        {
            var position = range.ToJson();
            position["etag"] = await EtagNowAsync(c, range, false).ConfigureAwait(false);
            if (withAllVersions && allVersionsEtag == null) allVersionsEtag = await EtagNowAsync(c, range, true).ConfigureAwait(false);
            if (allVersionsEtag != null) position["allVersionsEtag"] = allVersionsEtag;
            return position;
        }

        // The etag of the range's feed now; for the "all versions and deletes" feed null where
        // the account refuses that mode (400).
        private async Task<string> EtagNowAsync(ContainerRef c, FeedRange range, bool allVersions)
        {
            var request = c.Path.Feed("GET", "docs", "read the " + (allVersions ? "all versions and deletes " : "") + "change feed position of " + range + " of [" + c + "]")
                .WithHeader("A-IM", allVersions ? FeedModes.AllVersionsFeed : "Incremental feed")
                .WithHeader("If-None-Match", "*")
                .WithHeader("x-ms-max-item-count", "1")
                .WithHeader("x-ms-documentdb-partitionkeyrangeid", range.Id);
            if (allVersions) request.Headers["x-ms-cosmos-changefeed-wire-format-version"] = FeedModes.AllVersionsWireFormat;
            var response = await Service().SendAsync(request).ConfigureAwait(false);
            if (allVersions && response.Status == 400 && !CosmosService.IsRequestTooLong(response)) return null;
            string etag = response.Header("etag");
            if (response.Status != 304 && !response.Ok) throw CosmosService.Failure(request, response);
            if (string.IsNullOrEmpty(etag)) throw new CosmosException(response.Status, request.What + ": the answer has no etag.");
            FeedModes.Lsn(etag);  // refuses an etag that is not an LSN
            return etag;
        }
    }
}
