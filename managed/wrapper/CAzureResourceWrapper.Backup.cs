// Container reads for backup: open a container, describe it, count and test it, list its
// partition key ranges (the tokens a backup may read one by one), read its items page by
// page, and read its attached scripts.
using System;
using System.Collections.Generic;
using System.Globalization;
using System.Linq;
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    public partial class CAzureResourceWrapper
    {
        private const int DefaultPageSize = 1000;

        private ContainerRef m_open;
        private bool m_keepSystemProperties;
        private string m_consistency = "";
        private List<FeedRange> m_ranges = new List<FeedRange>();
        // Every range of the open container seen so far, split and merged ones included, so
        // that a range id handed out before a split still names its key interval.
        private Dictionary<string, FeedRange> m_seenRanges = new Dictionary<string, FeedRange>();
        // A read goes on after this many 410 answers in a row (splits, merges, ranges moving).
        private const int MaxGoneRetries = 5;

        private ContainerRef Open()
        {
            lock (m_lock)
            {
                if (m_open == null) throw new CosmosException(0, "No container is open: call OpenCosmosDBContainer first.");
                return m_open;
            }
        }

        private ContainerRef ReadContainerRef(string db, string name)
        {
            var properties = Service().ReadContainer(db, name);
            if (properties == null) throw new CosmosException(404, "Container [" + db + "/" + name + "] does not exist.");
            return new ContainerRef(db, name, properties);
        }

        private List<string> RangeIds(ContainerRef c)
        {
            return ReadRanges(c).Select(r => r.Id).ToList();
        }

        // The open container's ranges as just read; `fresh` when another container was opened.
        private void SetRanges(List<FeedRange> ranges, bool fresh)
        {
            if (fresh) m_seenRanges = new Dictionary<string, FeedRange>();
            m_ranges = ranges;
            foreach (var r in ranges) m_seenRanges[r.Id] = r;
        }

        private List<FeedRange> ReadRanges(ContainerRef c)
        {
            return Service().ReadPartitionKeyRanges(c).Select(FeedRange.OfService).ToList();
        }

        // strIn4 of OpenCosmosDBContainer: a consistency level, optionally followed by
        // ";sessionToken=TOKEN" (the session token of earlier writes, for reads that must see them).
        private static string SplitSessionToken(string text, out string sessionToken)
        {
            sessionToken = null;
            text = text ?? "";
            const string marker = ";sessionToken=";
            int at = text.IndexOf(marker, StringComparison.OrdinalIgnoreCase);
            if (at < 0) return text.Trim();
            sessionToken = text.Substring(at + marker.Length).Trim();
            return text.Substring(0, at).Trim();
        }

        // strIn1: account; strIn2: database; bOption: keep the service's system properties
        // (_rid, _self, _etag, _attachments, _ts) in the items read; strIn3: container;
        // strIn4: consistency level for the reads ("" for the account's default), optionally
        // followed by ";sessionToken=TOKEN".
        public override bool OpenCosmosDBContainer(string strIn1, string strIn2, bool bOption, string strIn3, string strIn4)
        {
            return Run(() =>
            {
                CheckAccount(strIn1);
                string sessionToken;
                string consistency = SplitSessionToken(strIn4, out sessionToken);
                var c = ReadContainerRef(strIn2, strIn3);
                // The given tokens first: the range list passes those of split ranges to their children.
                if (!string.IsNullOrEmpty(sessionToken)) Service().Sessions.Merge(SessionTokens.ContainerLink(c.Path.Link), sessionToken);
                var ranges = ReadRanges(c);
                lock (m_lock)
                {
                    m_open = c;
                    SetRanges(ranges, true);
                    m_keepSystemProperties = bOption;
                    m_consistency = consistency;
                }
                return true;
            });
        }

        // strOut1: partition key definition (JSON); nValue1: fixed throughput RU/s (0 if none);
        // nValue2: default time to live (0 off, -1 on without default, else seconds);
        // nValue3: autoscale maximum RU/s (0 if not autoscale); nValue4: partition key version;
        // strOut2: indexing policy (JSON).
        public override bool DescribeCosmosDBContainer(ref string strOut1, ref int nValue1, ref int nValue2, ref int nValue3, ref int nValue4, ref string strOut2)
        {
            ContainerRef fresh = null;
            ThroughputLayout layout = null;
            bool ok = Run(() =>
            {
                var open = Open();
                fresh = ReadContainerRef(open.Database, open.Name);
                layout = ThroughputLayout.Of(Service(), fresh);
                return true;
            });
            if (!ok) return false;
            var ttl = fresh.Properties["defaultTtl"];
            bool own = layout.Scope == ThroughputLayout.OwnOffer;
            nValue1 = own ? layout.Offer.Manual : 0;
            nValue2 = ttl != null && ttl.Type == JTokenType.Integer ? (int)ttl : 0;
            nValue3 = own ? layout.Offer.AutoscaleMax : 0;
            nValue4 = fresh.PartitionKey.Version;
            strOut1 = Json.Compact(fresh.PartitionKey.Definition);
            strOut2 = Json.Compact(fresh.Properties["indexingPolicy"] ?? new JObject());
            return true;
        }

        // llCount: the number of items, counted range by range.
        public override bool CountItems(ref long llCount)
        {
            long count = 0;
            bool ok = Run(() =>
            {
                count = Count(Open());
                return true;
            });
            if (ok) llCount = count;
            return ok;
        }

        // A range that splits while it is counted answers 410: the count starts again over the
        // new ranges, a bounded number of times.
        private long Count(ContainerRef c)
        {
            for (int attempt = 1; ; attempt++)
            {
                try
                {
                    return CountOnce(c);
                }
                catch (CosmosException e) when (e.StatusCode == 410 && attempt < MaxGoneRetries)
                {
                    if (e.SubStatusCode == SubStatus.NameCacheIsStale) CheckNotRecreated(c);
                    m_trace("counting again after: " + e.Message);
                }
            }
        }

        private long CountOnce(ContainerRef c)
        {
            long total = 0;
            foreach (var range in RangeIds(c))
            {
                var request = CosmosService.Query(c.Path.Feed("POST", "docs", "count the items of [" + c + "]"), "SELECT VALUE COUNT(1) FROM c");
                request.Headers["x-ms-documentdb-partitionkeyrangeid"] = range;
                request.Headers["x-ms-documentdb-query-enablecrosspartition"] = "True";
                foreach (var value in Service().ReadValues(request, "Documents")) total += CountValue(value);
            }
            return total;
        }

        // A count comes as a bare number per page; a partial aggregate of one range may also
        // come as {"_aggregate": n} or {"item": n}. Pages are summed.
        private static long CountValue(JToken value)
        {
            if (value.Type == JTokenType.Integer) return (long)value;
            var obj = value as JObject;
            if (obj != null)
            {
                foreach (var name in new[] { "_aggregate", "item", "$1" })
                {
                    var v = obj[name];
                    if (v != null && v.Type == JTokenType.Integer) return (long)v;
                }
            }
            throw new CosmosException(0, "The service answered a count with [" + Json.Compact(value) + "].");
        }

        // llOut1: item count; llOut2: stored size of the items in bytes (-1 when the service
        // does not report it); strOut: both as JSON with the number of partition key ranges,
        // the whole container definition (minus system properties) and where its throughput
        // comes from ({"itemCount","sizeBytes","partitionKeyRanges","source","container",
        // "throughput":{"layout","serverless","manual","autoscaleMax"},"rid"}); "rid" is the
        // container's _rid, which tells a re-created container from the one of the same name
        // that was deleted; "" on failure.
        public override bool ObtainContainerStatistics(ref long llOut1, ref long llOut2, ref string strOut)
        {
            long count = 0, size = -1;
            string text = "";
            bool ok = Run(() =>
            {
                var c = Open();
                // The range list does not depend on the container's answer: asked for at once.
                var rangeCount = System.Threading.Tasks.Task.Run(() => RangeIds(c).Count);
                var request = c.Path.On("GET", "colls", "read the statistics of [" + c + "]").WithHeader("x-ms-documentdb-populatequotainfo", "True");
                var response = Service().Send(request);
                if (!response.Ok) throw CosmosService.Failure(request, response);
                string source = "quota";
                var usage = ParseUsage(response.Header("x-ms-resource-usage"));
                if (usage.ContainsKey("documentsCount")) count = usage["documentsCount"];
                else
                {
                    count = Count(c);
                    source = "count";
                }
                if (usage.ContainsKey("documentsSize")) size = usage["documentsSize"] * 1024;
                int ranges = rangeCount.GetAwaiter().GetResult();
                // The answer is the container itself, read afresh (its _rid finds its offer).
                var resource = Json.ParseObject(response.Body, request.What + " answer");
                var definition = ContainerDefinition.WithoutSystemProperties(resource);
                var layout = ThroughputLayout.Of(Service(), new ContainerRef(c.Database, c.Name, resource));
                text = Json.Compact(new JObject
                {
                    ["itemCount"] = count, ["sizeBytes"] = size, ["partitionKeyRanges"] = ranges, ["source"] = source,
                    ["container"] = definition, ["throughput"] = layout.ToJson(),
                    ["rid"] = (string)resource["_rid"] ?? "",
                });
                return true;
            });
            if (ok)
            {
                llOut1 = count;
                llOut2 = size;
            }
            strOut = text;
            return ok;
        }

        private static Dictionary<string, long> ParseUsage(string header)
        {
            var usage = new Dictionary<string, long>();
            foreach (var part in (header ?? "").Split(';'))
            {
                int eq = part.IndexOf('=');
                long value;
                if (eq > 0 && long.TryParse(part.Substring(eq + 1), NumberStyles.Integer, CultureInfo.InvariantCulture, out value))
                    usage[part.Substring(0, eq).Trim()] = value;
            }
            return usage;
        }

        // bEmpty: whether the container holds no item.
        public override bool IsEmpty(ref bool bEmpty)
        {
            bool empty = true;
            bool ok = Run(() =>
            {
                var c = Open();
                var cursor = new FeedCursor(ReadRanges(c));
                while (!cursor.Done && empty)
                {
                    if (ReadPage(c, cursor, 1).Count > 0) empty = false;
                }
                return true;
            });
            if (ok) bEmpty = empty;
            return ok;
        }

        public const long UsageCode = -1;
        public const long FailedItemsCode = -2;
        public const long SessionTokenCode = -3;

        // llIn: 0 gives the partition key range ids; a positive value gives each range as JSON
        // ({"id","minInclusive","maxExclusive"}), read afresh, so a split range shows.
        // Negative codes ask for this object's own records, without a request:
        // -1: one text, what its requests cost ({"requestCharge","requests","throttled",
        //     "throttleWaitMs","ruBudget"}); -2: the items the current restore could not write,
        //     one {"id","partitionKey","status","reason"} each; -3: one text, the session token
        //     of the current container ("" when none); -4: each range of the open container with
        //     its change feed's current position, {"id","minInclusive","maxExclusive","etag"}.
        public override object GetCosmosDBTokens(long llIn)
        {
            return RunList(() =>
            {
                if (llIn == UsageCode)
                {
                    var usage = Service().Usage.ToJson();
                    usage["ruBudget"] = RuBudget.Shared.Limit;
                    return SStringLibList.Of(new[] { Json.Compact(usage) });
                }
                if (llIn == FailedItemsCode) return SStringLibList.Of(Restore().FailedItems().Select(Json.Compact));
                if (llIn == SessionTokenCode) return SStringLibList.Of(new[] { Service().Sessions.For(SessionTokens.ContainerLink(Current().Path.Link)) ?? "" });
                if (llIn == ChangeFeedPositionsCode) return SStringLibList.Of(ChangeFeedPositions(Open()).Select(Json.Compact));
                if (llIn < 0) throw new CosmosException(0, "GetCosmosDBTokens takes 0, a positive number, -1, -2, -3 or -4, not " + llIn + ".");
                var c = Open();
                var ranges = ReadRanges(c);
                lock (m_lock) SetRanges(ranges, false);
                if (llIn == 0) return SStringLibList.Of(ranges.Select(r => r.Id));
                return SStringLibList.Of(ranges.Select(r => Json.Compact(r.ToJson())));
            });
        }

        // strIn: "" to read the whole container, a token (range id, or a range as JSON from
        // GetCosmosDBTokens, which may ask for its change feed or its keys: FeedModes) to read
        // that range only, or the continuation of the previous page;
        // llIn: page size (items, <= 0 for 1000).
        // Returns the page's items as JSON texts; strOut: the continuation for the next page
        // ("" at the end); bSuccess: whether the page was read; bOut: more pages follow.
        public override object GetCosmosDBData(string strIn, long llIn, ref string strOut, ref bool bSuccess, ref bool bOut)
        {
            FeedCursor cursor = null;
            List<string> items = null;
            object list = RunList(() =>
            {
                var c = Open();
                cursor = FeedCursor.Parse(strIn, KnownRanges());
                items = cursor.Done ? new List<string>() : ReadPage(c, cursor, PageSize(llIn));
                return SStringLibList.Of(items);
            });
            bSuccess = list != null;
            if (list != null)
            {
                strOut = cursor.ToString();
                bOut = !cursor.Done;
            }
            return list;
        }

        // The same read as GetCosmosDBData; the result is the page as ItemPageBytes lays it out,
        // split from the answer's bytes without making a string per item.
        public override object GetCosmosDBPage(string strIn, long llIn, ref string strOut, ref bool bSuccess, ref bool bOut)
        {
            FeedCursor cursor = null;
            object bytes = RunList(() =>
            {
                var c = Open();
                cursor = FeedCursor.Parse(strIn, KnownRanges());
                var page = ItemPageBytes.Rent();
                if (!cursor.Done) ReadPage(c, cursor, PageSize(llIn), page);
                return page.Finish();
            });
            bSuccess = bytes != null;
            if (bytes != null)
            {
                strOut = cursor.ToString();
                bOut = !cursor.Done;
            }
            return bytes;
        }

        private List<FeedRange> KnownRanges()
        {
            lock (m_lock) return m_ranges.Concat(m_seenRanges.Values.Where(r => !m_ranges.Any(l => l.Id == r.Id))).ToList();
        }

        private static int PageSize(long llIn)
        {
            return llIn <= 0 ? DefaultPageSize : (int)Math.Min(llIn, int.MaxValue);
        }

        private List<string> ReadPage(ContainerRef c, FeedCursor cursor, int pageSize)
        {
            return ReadPage(c, cursor, pageSize, null);
        }

        // Reads one page of the cursor's current part and moves the cursor past it: its items
        // as texts, or, with `into`, appended there (and null returned). A range
        // that split or merged (410) is looked up again by its key interval and the part is
        // replaced by the ranges that serve it now, each going on from the same token.
        private List<string> ReadPage(ContainerRef c, FeedCursor cursor, int pageSize, ItemPageBytes into)
        {
            for (int gone = 0; ; gone++)
            {
                var request = PageRequest(c, cursor.Current, pageSize);
                if (cursor.Mode != FeedModes.Items) FeedModes.Shape(request, cursor, c.PartitionKey);
                var response = Service().Send(request);
                if (response.Status == 410 && gone < MaxGoneRetries)
                {
                    // 1000: the name may now mean another container, whose ranges must never
                    // be read with this one's continuations. Anything else: the range moved
                    // (1002), or is still moving after the wait (1007, 1008).
                    if (SubStatus.Of(response) == SubStatus.NameCacheIsStale) CheckNotRecreated(c);
                    else FollowMovedRange(c, cursor, response);
                    continue;
                }
                // Still 410/1000 after the container was looked up again and found unchanged: the
                // ranges being read came from an earlier container of this name (this reader
                // opened it after the re-creation), so going on would mix the two.
                if (response.Status == 410 && SubStatus.Of(response) == SubStatus.NameCacheIsStale)
                    throw new CosmosException(410, SubStatus.NameCacheIsStale, "Container [" + c + "] was deleted and re-created during the backup (the ranges being read belong to the earlier container of that name); start the backup again.");
                if (cursor.Mode != FeedModes.Items)
                {
                    var texts = FeedModes.TakePage(request, response, cursor, c.PartitionKey);
                    if (into == null) return texts;
                    foreach (var text in texts) into.AddText(text);
                    return null;
                }
                if (!response.Ok) throw CosmosService.Failure(request, response);
                bool keep;
                lock (m_lock) keep = m_keepSystemProperties;
                List<string> items = null;
                if (into == null) items = ItemPage.Split(response.Body, keep);
                else
                {
                    var body = Utf8Text.Valid(response.BodyBytes);
                    Utf8ItemPage.Split(body, body.Length, keep, into);
                }
                cursor.Advance(response.Header("x-ms-continuation"));
                return items;
            }
        }

        private RestRequest PageRequest(ContainerRef c, FeedCursor.Part part, int pageSize)
        {
            var request = c.Path.Feed("GET", "docs", "read the items of [" + c + "]")
                .WithHeader("x-ms-max-item-count", pageSize.ToString(CultureInfo.InvariantCulture))
                .WithHeader("x-ms-documentdb-partitionkeyrangeid", part.Range.Id);
            if (part.Token != null) request.Headers["x-ms-continuation"] = part.Token;
            string consistency;
            List<FeedRange> ranges;
            lock (m_lock)
            {
                consistency = m_consistency;
                ranges = m_ranges;
            }
            if (consistency.Length > 0) request.Headers["x-ms-consistency-level"] = consistency;
            // A part narrower than the range that serves it (after a merge) is read within its
            // own effective keys, so that the rest of that range is not read twice.
            var served = ranges.FirstOrDefault(r => r.Id == part.Range.Id);
            if (served == null || !part.Range.Covers(served, c.PartitionKey.LengthAwareBoundaries))
            {
                request.Headers["x-ms-read-key-type"] = "EffectivePartitionKeyRange";
                request.Headers["x-ms-start-epk"] = part.Range.Min;
                request.Headers["x-ms-end-epk"] = part.Range.Max;
            }
            return request;
        }

        // Stops loudly when the container's name now belongs to another container than the one
        // this read started on (deleted and re-created meanwhile): going on would mix two
        // containers' items under one backup.
        private void CheckNotRecreated(ContainerRef c)
        {
            var now = Service().ReadContainer(c.Database, c.Name);
            if (now == null) throw new CosmosException(404, SubStatus.OwnerResourceNotFound, "Container [" + c + "] was deleted during the backup.");
            string rid = (string)now["_rid"] ?? "";
            if (rid != c.Rid)
                throw new CosmosException(410, SubStatus.NameCacheIsStale, "Container [" + c + "] was deleted and re-created during the backup (its _rid was " + c.Rid + ", is now " + rid + "); start the backup again.");
            m_trace("container [" + c + "] answered 410/1000 but is still the same container; reading on");
        }

        private void FollowMovedRange(ContainerRef c, FeedCursor cursor, RestResponse response)
        {
            var ranges = ReadRanges(c);
            lock (m_lock)
            {
                if (m_open == c) SetRanges(ranges, false);
            }
            var served = cursor.Current.Range.ServedBy(ranges, c.PartitionKey.LengthAwareBoundaries);
            if (served.Count == 0) throw new CosmosException(410, "No partition key range of [" + c + "] covers " + cursor.Current.Range + " any more.");
            m_trace("range " + cursor.Current.Range + " answered 410/" + (response.Header("x-ms-substatus") ?? "") +
                    "; reading on in " + string.Join(", ", served.Select(r => r.ToString())));
            cursor.Replace(served);
        }

        // bOption: include user-defined functions; nOut: number of scripts; strOut: the
        // scripts as JSON ({"storedProcedures","triggers","userDefinedFunctions"}), "" on failure.
        public override bool BackupAttachedScripts(bool bOption, ref int nOut, ref string strOut)
        {
            int count = 0;
            string text = "";
            bool ok = Run(() =>
            {
                text = Json.Compact(ScriptSet.Read(Service(), Open(), bOption, out count));
                return true;
            });
            if (ok) nOut = count;
            strOut = text;
            return ok;
        }
    }
}
