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
        private List<string> m_ranges = new List<string>();

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
            return Service().ReadPartitionKeyRanges(c).Select(r => (string)r["id"]).ToList();
        }

        // strIn1: account; strIn2: database; bOption: keep the service's system properties
        // (_rid, _self, _etag, _attachments, _ts) in the items read; strIn3: container;
        // strIn4: consistency level for the reads ("" for the account's default).
        public override bool OpenCosmosDBContainer(string strIn1, string strIn2, bool bOption, string strIn3, string strIn4)
        {
            return Run(() =>
            {
                CheckAccount(strIn1);
                var c = ReadContainerRef(strIn2, strIn3);
                var ranges = RangeIds(c);
                lock (m_lock)
                {
                    m_open = c;
                    m_ranges = ranges;
                    m_keepSystemProperties = bOption;
                    m_consistency = strIn4 ?? "";
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

        private long Count(ContainerRef c)
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
        // "throughput":{"layout","serverless","manual","autoscaleMax"}}); "" on failure.
        public override bool ObtainContainerStatistics(ref long llOut1, ref long llOut2, ref string strOut)
        {
            long count = 0, size = -1;
            string text = "";
            bool ok = Run(() =>
            {
                var c = Open();
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
                int ranges = RangeIds(c).Count;
                // The answer is the container itself, read afresh (its _rid finds its offer).
                var resource = Json.ParseObject(response.Body, request.What + " answer");
                var definition = ContainerDefinition.WithoutSystemProperties(resource);
                var layout = ThroughputLayout.Of(Service(), new ContainerRef(c.Database, c.Name, resource));
                text = Json.Compact(new JObject
                {
                    ["itemCount"] = count, ["sizeBytes"] = size, ["partitionKeyRanges"] = ranges, ["source"] = source,
                    ["container"] = definition, ["throughput"] = layout.ToJson(),
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
                foreach (var range in RangeIds(c))
                {
                    var cursor = new FeedCursor(new[] { range }, null);
                    while (!cursor.Done && empty)
                    {
                        if (ReadPage(c, cursor, 1).Count > 0) empty = false;
                    }
                    if (!empty) break;
                }
                return true;
            });
            if (ok) bEmpty = empty;
            return ok;
        }

        // llIn: 0 gives the partition key range ids; any other value gives each range as JSON
        // ({"id","minInclusive","maxExclusive"}). Read afresh, so a split range shows.
        public override object GetCosmosDBTokens(long llIn)
        {
            return RunList(() =>
            {
                var c = Open();
                var ranges = Service().ReadPartitionKeyRanges(c);
                lock (m_lock) m_ranges = ranges.Select(r => (string)r["id"]).ToList();
                if (llIn == 0) return SStringLibList.Of(ranges.Select(r => (string)r["id"]));
                return SStringLibList.Of(ranges.Select(r => Json.Compact(new JObject
                {
                    ["id"] = r["id"], ["minInclusive"] = r["minInclusive"], ["maxExclusive"] = r["maxExclusive"],
                })));
            });
        }

        // strIn: "" to read the whole container, a token (range id) to read that range only,
        // or the continuation of the previous page; llIn: page size (items, <= 0 for 1000).
        // Returns the page's items as JSON texts; strOut: the continuation for the next page
        // ("" at the end); bSuccess: whether the page was read; bOut: more pages follow.
        public override object GetCosmosDBData(string strIn, long llIn, ref string strOut, ref bool bSuccess, ref bool bOut)
        {
            FeedCursor cursor = null;
            List<string> items = null;
            object list = RunList(() =>
            {
                var c = Open();
                List<string> ranges;
                lock (m_lock) ranges = m_ranges;
                cursor = FeedCursor.Parse(strIn, ranges);
                int pageSize = llIn <= 0 ? DefaultPageSize : (int)Math.Min(llIn, int.MaxValue);
                items = cursor.Done ? new List<string>() : ReadPage(c, cursor, pageSize);
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

        // Reads one page of the cursor's current range and moves the cursor past it.
        private List<string> ReadPage(ContainerRef c, FeedCursor cursor, int pageSize)
        {
            var request = c.Path.Feed("GET", "docs", "read the items of [" + c + "]")
                .WithHeader("x-ms-max-item-count", pageSize.ToString(CultureInfo.InvariantCulture))
                .WithHeader("x-ms-documentdb-partitionkeyrangeid", cursor.Ranges[0]);
            if (cursor.Token != null) request.Headers["x-ms-continuation"] = cursor.Token;
            string consistency;
            bool keep;
            lock (m_lock)
            {
                consistency = m_consistency;
                keep = m_keepSystemProperties;
            }
            if (consistency.Length > 0) request.Headers["x-ms-consistency-level"] = consistency;
            var response = Service().Send(request);
            if (!response.Ok) throw CosmosService.Failure(request, response);
            var items = ItemPage.Split(response.Body, keep);
            cursor.Advance(response.Header("x-ms-continuation"));
            return items;
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
