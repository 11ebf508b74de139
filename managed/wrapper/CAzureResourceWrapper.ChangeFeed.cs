// Where each range's change feed stands now: what an incremental backup records before it
// reads, so that the next one reads the changes after it.
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
        // "maxExclusive","etag"}): the feed read with If-None-Match "*" answers 304 and the
        // etag to read on from. A range that splits meanwhile (410) makes the list start again.
        // The ranges are asked all at once: each answer is one small request's round trip.
        private List<JObject> ChangeFeedPositions(ContainerRef c)
        {
            for (int attempt = 1; ; attempt++)
            {
                try
                {
                    var asked = ReadRanges(c).Select(r => PositionOfAsync(c, r)).ToList();
                    return Task.WhenAll(asked).GetAwaiter().GetResult().ToList();
                }
                catch (CosmosException e) when (e.StatusCode == 410 && attempt < MaxGoneRetries)
                {
                    if (e.SubStatusCode == SubStatus.NameCacheIsStale) CheckNotRecreated(c);
                    m_trace("reading the change feed positions again after: " + e.Message);
                }
            }
        }

        private async Task<JObject> PositionOfAsync(ContainerRef c, FeedRange range)
        {
            var request = c.Path.Feed("GET", "docs", "read the change feed position of " + range + " of [" + c + "]")
                .WithHeader("A-IM", "Incremental feed")
                .WithHeader("If-None-Match", "*")
                .WithHeader("x-ms-max-item-count", "1")
                .WithHeader("x-ms-documentdb-partitionkeyrangeid", range.Id);
            var response = await Service().SendAsync(request).ConfigureAwait(false);
            string etag = response.Header("etag");
            if (response.Status != 304 && !response.Ok) throw CosmosService.Failure(request, response);
            if (string.IsNullOrEmpty(etag)) throw new CosmosException(response.Status, request.What + ": the answer has no etag.");
            FeedModes.Lsn(etag);  // refuses an etag that is not an LSN
            var position = range.ToJson();
            position["etag"] = etag;
            return position;
        }
    }
}
