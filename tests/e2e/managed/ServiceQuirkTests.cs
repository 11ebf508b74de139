// What the live service does that plain test servers do not, each switched on in the scripted
// server (tests/e2e/scripted, its control endpoints) for one test: merge-enabled accounts,
// range lists paged across a split, splits still completing, a container re-created under
// its name, lagging session replicas, legacy system keys, offer kind changes and hierarchical
// key boundaries written in two forms. Run with the argument "quirks" against that server.
using System;
using System.Collections.Generic;
using System.Linq;
using System.Net.Http;
using System.Text;
using CloudSDKWrapper;
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapperTests
{
    internal static class ServiceQuirkTests
    {
        private static string Endpoint { get { return Environment.GetEnvironmentVariable("COSMOS_ENDPOINT"); } }
        private static readonly HttpClient Http = new HttpClient(new HttpClientHandler { ServerCertificateCustomValidationCallback = (m, c, ch, e) => true });

        public static int Run()
        {
            var runner = new TestRunner();
            runner.Add("a merge-enabled account: every request declares merges, a merged range is read within each parent", MergeEnabledAccount);
            runner.Add("a range list paged across a split lists no parent", PagedRangeListAcrossSplit);
            runner.Add("410/1007 and 1008 are waited out, then the split is followed; retriable 410s on writes retried", SplitStillCompleting);
            runner.Add("a container re-created under its name stops the read loudly", ContainerRecreated);
            runner.Add("404/1002 is retried; a deletion's 404/1003 stops the restore, its 404/0 counts as deleted", NotFoundSubstatus);
            runner.Add("a legacy system-key container addresses items by [value] or []", SystemKeyContainer);
            runner.Add("a throughput kind change goes through the migration request", OfferKindChange);
            runner.Add("hierarchical boundaries written padded and trimmed compare equal", HierarchicalBoundaries);
            runner.Add("session tokens per range: a split range's children read with its token, gone ranges dropped", SessionTokensPerRange);
            return runner.Run();
        }

        // POST /_control/ACTION with a JSON body; the answer as JSON.
        private static JToken Control(string action, object body)
        {
            var content = new StringContent(JToken.FromObject(body).ToString(), Encoding.UTF8, "application/json");
            var answer = Http.PostAsync(Endpoint.TrimEnd('/') + "/_control/" + action, content).GetAwaiter().GetResult();
            string text = answer.Content.ReadAsStringAsync().GetAwaiter().GetResult();
            Check.True(answer.IsSuccessStatusCode, "control " + action + ": " + text);
            return JToken.Parse(text);
        }

        // A fresh server state with these options (the others at their defaults).
        private static void Configure(object options)
        {
            Control("reset", new { });
            Control("config", new { mergeEnabled = false, rangesPageSize = 0, sessionMissEvery = 0, offerMigration = false, boundaryForms = false, ranges = 1,
                                    laggingReads = false, sessionRegions = 0 });
            Control("config", options);
        }

        private static CAzureResourceWrapper Opened(string db, string coll)
        {
            var w = new CAzureResourceWrapper();
            Check.True(w.Initialize("quirk-tests", "", 30000), "Initialize: " + w.GetLastErrorString());
            Check.True(w.Connect(Endpoint, Environment.GetEnvironmentVariable("COSMOS_KEY"), "verifyTls=false"), "Connect: " + w.GetLastErrorString());
            if (coll != null) Check.True(w.OpenCosmosDBContainer("", db, false, coll, ""), "open: " + w.GetLastErrorString());
            return w;
        }

        private static List<string> Texts(object list)
        {
            var texts = new List<string>();
            var e = SStringListEnumerator.GetEnumerator(list);
            while (e.MoveNext()) texts.Add(e.Current().strValue);
            return texts;
        }

        // Reads from `start` to the end in pages of `pageSize`, calling `between` after the first
        // page; the ids read, every one once.
        private static List<string> ReadIds(CAzureResourceWrapper w, string start, int pageSize, Action between = null)
        {
            var ids = new List<string>();
            bool more = true;
            for (string at = start; more;)
            {
                bool ok = false;
                string next = null;
                var page = w.GetCosmosDBData(at, pageSize, ref next, ref ok, ref more);
                Check.True(ok, "read: " + w.GetLastErrorString());
                ids.AddRange(Texts(page).Select(t => (string)JObject.Parse(t)["id"]));
                at = next;
                if (between != null) between();
                between = null;
            }
            Check.Equal(ids.Count, ids.Distinct().Count(), "no item read twice");
            return ids;
        }

        private static void Seed(string coll, int count, object partitionKey = null)
        {
            if (partitionKey == null) Control("seed", new { db = "q", coll, count });
            else Control("seed", new { db = "q", coll, count, partitionKey });
        }

        private static void MergeEnabledAccount()
        {
            Configure(new { mergeEnabled = true, ranges = 4 });
            Seed("merge", 400);
            var w = Opened("q", "merge");
            var ids = ReadIds(w, "", 40, () => Control("merge", new { db = "q", coll = "merge", range = "0" }));
            Check.Equal(400, ids.Count, "every item once across the merge");
            long count = 0;
            Check.True(w.CountItems(ref count), "count: " + w.GetLastErrorString());
            Check.Equal(400L, count, "count after the merge");
        }

        private static void PagedRangeListAcrossSplit()
        {
            Configure(new { rangesPageSize = 2, ranges = 4 });
            Seed("paged", 400);
            var w = Opened("q", "paged");
            Control("split", new { db = "q", coll = "paged", range = "1", betweenRangePages = true });
            var ranges = Texts(w.GetCosmosDBTokens(1)).Select(JObject.Parse).ToList();
            var live = (JArray)Control("ranges", new { db = "q", coll = "paged" })["live"];
            Check.Equal(string.Join(",", live.Select(r => (string)r["id"]).OrderBy(id => id)), string.Join(",", ranges.Select(r => (string)r["id"]).OrderBy(id => id)), "the live ranges, the parent dropped");
            int total = ranges.Sum(r => ReadIds(w, r.ToString(Newtonsoft.Json.Formatting.None), 100).Count);
            Check.Equal(400, total, "the listed ranges hold every item once");
        }

        private static void SplitStillCompleting()
        {
            Configure(new { ranges = 2 });
            Seed("completing", 300);
            var w = Opened("q", "completing");
            var ids = ReadIds(w, "", 50, () => Control("split", new { db = "q", coll = "completing", range = "0", completingMs = 1500, substatus = 1007 }));
            Check.Equal(300, ids.Count, "every item once after 1007 and the split");
            Control("split", new { db = "q", coll = "completing", range = "1", completingMs = 1500, substatus = 1008 });
            long count = 0;
            Check.True(w.CountItems(ref count), "count during a migration: " + w.GetLastErrorString());
            Check.Equal(300L, count, "count");

            Control("fail", new { status = 410, substatus = 1002, times = 2, pathContains = "/docs" });
            Check.True(w.StartCosmosDBRestore(2, ""), "start: " + w.GetLastErrorString());
            Check.True(w.AddCosmosDBRestoreItem("{\"id\":\"written\",\"tenant\":\"t\"}"), "add: " + w.GetLastErrorString());
            Check.True(w.FlushCosmosDBRestore(), "a write that met 410 is retried: " + w.GetLastErrorString());
            Check.True(w.CountItems(ref count) && count == 301, "the item was written");
        }

        private static void ContainerRecreated()
        {
            Configure(new { ranges = 2 });
            Seed("again", 300);
            var w = Opened("q", "again");
            bool ok = false, more = false;
            string next = null;
            w.GetCosmosDBData("", 50, ref next, ref ok, ref more);
            Check.True(ok && more, "first page");
            Control("recreate", new { db = "q", coll = "again", seed = 300 });
            var after = w.GetCosmosDBData(next, 50, ref next, ref ok, ref more);
            Check.True(!ok && after == null, "the read stops");
            Check.True(w.GetLastErrorString().Contains("was deleted and re-created during the backup"), "loudly: " + w.GetLastErrorString());
        }

        private static void NotFoundSubstatus()
        {
            Configure(new { ranges = 2, sessionMissEvery = 3 });
            Seed("session", 300);
            var w = Opened("q", "session");
            Check.Equal(300, ReadIds(w, "", 20).Count, "every item although every third session read answered 404/1002");

            Check.True(w.StartCosmosDBRestore(4, "q/session?delete"), "start deleting: " + w.GetLastErrorString());
            Check.True(w.AddCosmosDBRestoreItem("[\"no-such-item\",\"pk-0001\"]"), "add: " + w.GetLastErrorString());
            Check.True(w.FlushCosmosDBRestore(), "a missing item (404/0) counts as deleted: " + w.GetLastErrorString());
            Check.True(w.StartCosmosDBRestore(4, "q/session?delete"), "start deleting again: " + w.GetLastErrorString());
            var other = Opened("q", null);
            Check.True(other.RemoveCosmosDBContainer("", "q", false, "session", ""), "remove: " + other.GetLastErrorString());
            Check.True(w.AddCosmosDBRestoreItem("[\"item-0000001\",\"pk-0001\"]"), "add: " + w.GetLastErrorString());
            Check.True(!w.FlushCosmosDBRestore(), "a missing container (404/1003) stops the restore");
            Check.True(w.GetLastErrorString().Contains("404/1003"), "named: " + w.GetLastErrorString());
        }

        // Reads lag behind writes unless they send a token of the written range (or of a range it
        // came from): counts see every write only with the right token per range.
        private static void SessionTokensPerRange()
        {
            Configure(new { ranges = 2, sessionRegions = 3 });
            Seed("tokens", 0);
            Control("config", new { laggingReads = true, lagMs = 600000 });
            var w = Opened("q", "tokens");
            Check.True(w.StartCosmosDBRestore(4, "q/tokens"), "start: " + w.GetLastErrorString());
            for (int i = 0; i < 40; i++) Check.True(w.AddCosmosDBRestoreItem("{\"id\":\"t" + i + "\",\"tenant\":\"pk-" + i + "\"}"), "add: " + w.GetLastErrorString());
            Check.True(w.FlushCosmosDBRestore(), "flush: " + w.GetLastErrorString());
            Control("split", new { db = "q", coll = "tokens", range = "0" });
            long count = 0;
            Check.True(w.CountItems(ref count), "count: " + w.GetLastErrorString());
            Check.Equal(40L, count, "the children of the split range read with its token");

            string tokens = Texts(w.GetCosmosDBTokens(-3)).Single();
            var ranges = tokens.Split(',').Select(t => t.Split(':')[0]).OrderBy(r => r).ToList();
            Check.Equal("1,2,3", string.Join(",", ranges), "the split range's token is dropped, its children have it: " + tokens);
            Check.True(tokens.Split(',').All(t => t.Split('#').Length == 5), "vector tokens kept whole: " + tokens);

            var fresh = Opened("q", "tokens");
            Check.True(fresh.CountItems(ref count), "count: " + fresh.GetLastErrorString());
            Check.True(count < 40, "without the tokens the count comes up short: " + count);
            var later = Opened("q", null);
            Check.True(later.OpenCosmosDBContainer("", "q", false, "tokens", ";sessionToken=" + tokens), "open with tokens: " + later.GetLastErrorString());
            Check.True(later.CountItems(ref count), "count: " + later.GetLastErrorString());
            Check.Equal(40L, count, "another object given the tokens sees every write");
        }

        private static void SystemKeyContainer()
        {
            Configure(new { });
            var w = Opened("q", null);
            Check.True(w.CreateCosmosDBDatabase("", "q", false, "", 0, 0, false), "database: " + w.GetLastErrorString());
            int t = 0, ttl = 0;
            const string legacy = "{\"paths\":[\"/_partitionKey\"],\"kind\":\"Hash\",\"systemKey\":true}";
            Check.True(w.CreateCosmosDBContainer("", "q", true, "legacy", legacy, "", ref t, ref ttl, true), "container: " + w.GetLastErrorString());
            Check.True(w.StartCosmosDBRestore(2, ""), "start: " + w.GetLastErrorString());
            foreach (var item in new[] { "{\"id\":\"with\",\"_partitionKey\":\"v\"}", "{\"id\":\"number\",\"_partitionKey\":7}", "{\"id\":\"without\"}" })
                Check.True(w.AddCosmosDBRestoreItem(item), "add: " + w.GetLastErrorString());
            Check.True(w.FlushCosmosDBRestore(), "items with and without a _partitionKey are written: " + w.GetLastErrorString());

            string next = null;
            bool ok = false, more = false;
            var keys = Texts(w.GetCosmosDBData("{\"id\":\"0\",\"minInclusive\":\"\",\"maxExclusive\":\"FF\",\"read\":\"keys\"}", 10, ref next, ref ok, ref more));
            Check.True(ok, "keys: " + w.GetLastErrorString());
            Check.Equal(3, keys.Count, "keys: " + string.Join(" ", keys));
            Check.True(w.StartCosmosDBRestore(2, "q/legacy?delete"), "start deleting: " + w.GetLastErrorString());
            foreach (var key in keys) Check.True(w.AddCosmosDBRestoreItem(key), "add key: " + w.GetLastErrorString());
            Check.True(w.FlushCosmosDBRestore(), "deleted by their keys: " + w.GetLastErrorString());
            var left = (JArray)Control("dump", new { db = "q", coll = "legacy" })["items"];
            Check.Equal(0, left.Count, "every item deleted");
        }

        private static void OfferKindChange()
        {
            Configure(new { offerMigration = true });
            var w = Opened("q", null);
            Check.True(w.CreateCosmosDBDatabase("", "q", false, "", 0, 0, false), "database: " + w.GetLastErrorString());
            int t = 400, ttl = 0;
            Check.True(w.CreateCosmosDBContainer("", "q", true, "offer", "{\"paths\":[\"/tenant\"],\"kind\":\"Hash\",\"version\":2}", "", ref t, ref ttl, true), "container: " + w.GetLastErrorString());
            int before = 0;
            Check.True(w.ChangeCosmosDBThroughput(-5000, 0, ref before), "to autoscale: " + w.GetLastErrorString());
            Check.Equal(400, before, "was fixed");
            Check.Equal("{\"offerAutopilotSettings\":{\"maxThroughput\":5000},\"offerThroughput\":500}", Control("dump", new { db = "q", coll = "offer" })["throughput"].ToString(Newtonsoft.Json.Formatting.None), "autoscale up to 5000");
            Check.True(w.ChangeCosmosDBThroughput(700, 0, ref before), "back to fixed: " + w.GetLastErrorString());
            Check.Equal(-5000, before, "was autoscale");
            Check.Equal("{\"offerThroughput\":700}", Control("dump", new { db = "q", coll = "offer" })["throughput"].ToString(Newtonsoft.Json.Formatting.None), "fixed 700");
        }

        private static void HierarchicalBoundaries()
        {
            Configure(new { boundaryForms = true, ranges = 4 });
            Seed("hpk", 400, new { paths = new[] { "/a", "/b" }, kind = "MultiHash", version = 2 });
            var w = Opened("q", "hpk");
            var ids = ReadIds(w, "", 30, () => Control("split", new { db = "q", coll = "hpk", range = "0" }));
            Check.Equal(400, ids.Count, "every item once across a split listed in the other form");
        }
    }
}
