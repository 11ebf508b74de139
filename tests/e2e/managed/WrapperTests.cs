// Tests of the production wrapper assembly, run by mono against the local test server
// (COSMOS_ENDPOINT, COSMOS_KEY). They call the wrapper the way the native bridge does:
// through the CCloudWrapper methods, and through the list and enumerator classes by their
// contract.
using System;
using System.Collections.Generic;
using System.Linq;
using CloudSDKWrapper;
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapperTests
{
    internal static class WrapperTests
    {
        private static string Endpoint { get { return Environment.GetEnvironmentVariable("COSMOS_ENDPOINT"); } }
        private static string Key { get { return Environment.GetEnvironmentVariable("COSMOS_KEY"); } }
        private const string LocalOptions = "verifyTls=false";
        private const string PartitionKey = "{\"paths\":[\"/pk\"],\"kind\":\"Hash\",\"version\":2}";

        // With the argument "quirks": the service-quirk tests, against the scripted server.
        private static int Main(string[] args)
        {
            if (args.Length > 0 && args[0] == "quirks") return ServiceQuirkTests.Run();
            var runner = new TestRunner();
            runner.Add("signature matches the documented example", SignatureMatchesDocumentedExample);
            runner.Add("connect fails clearly for a wrong key, a wrong endpoint and verified TLS", ConnectFailures);
            runner.Add("lists enumerate as the bridge walks them", ListsEnumerate);
            runner.Add("catalogue lists databases and containers", Catalogue);
            runner.Add("container is created and described", CreateAndDescribe);
            runner.Add("restore and paged read give back every item", RestoreAndReadBack);
            runner.Add("numbers and texts pass through unchanged", NumbersPassThrough);
            runner.Add("pages split from the answer's bytes as from its text", PagesSplitFromBytes);
            runner.Add("a container read as byte pages gives the bytes of its text pages", BytePagesMatchTextPages);
            runner.Add("restore reports refused and failed items", RestoreFailures);
            runner.Add("key-only reads and restores that delete", KeysAndDeletions);
            runner.Add("scripts back up and restore", ScriptsRoundTrip);
            runner.Add("throughput changes", ThroughputChanges);
            RetryTests.Register(runner);
            return runner.Run();
        }

        private static CAzureResourceWrapper Connected()
        {
            var w = new CAzureResourceWrapper();
            Check.True(w.Initialize("wrapper-tests", "", 30000), "Initialize: " + w.GetLastErrorString());
            Check.True(w.Connect(Endpoint, Key, LocalOptions), "Connect: " + w.GetLastErrorString());
            return w;
        }

        private static List<string> Texts(object list)
        {
            var texts = new List<string>();
            var e = SStringListEnumerator.GetEnumerator(list);
            while (e.MoveNext()) texts.Add(e.Current().strValue);
            return texts;
        }

        // Dates must stay texts, as the wrapper keeps them, for a fair comparison.
        private static JObject ParseKeepingDates(string text)
        {
            var reader = new Newtonsoft.Json.JsonTextReader(new System.IO.StringReader(text)) { DateParseHandling = Newtonsoft.Json.DateParseHandling.None };
            return JObject.Load(reader);
        }

        // Items read from `start` to the end, 100 a page.
        private static int CountFrom(CAzureResourceWrapper w, string start)
        {
            int count = 0;
            bool more = true;
            for (string at = start; more;)
            {
                bool ok = false;
                string next = null;
                var page = w.GetCosmosDBData(at, 100, ref next, ref ok, ref more);
                Check.True(ok, "read from " + start + ": " + w.GetLastErrorString());
                count += Texts(page).Count;
                at = next;
            }
            return count;
        }

        private static string Unique(string prefix) { return prefix + "-" + Guid.NewGuid().ToString("N").Substring(0, 8); }

        private static void MakeContainer(CAzureResourceWrapper w, string db, string container, int throughput)
        {
            Check.True(w.CreateCosmosDBDatabase("", db, false, "", 0, 0, false), "create database: " + w.GetLastErrorString());
            int t = throughput, ttl = 0;
            Check.True(w.CreateCosmosDBContainer("", db, true, container, PartitionKey, "", ref t, ref ttl, true), "create container: " + w.GetLastErrorString());
        }

        private static void SignatureMatchesDocumentedExample()
        {
            // The service's documentation signs GET dbs/ToDoList at this date with this key.
            var type = typeof(CAzureResourceWrapper).Assembly.GetType("CloudSDKWrapper.MasterKeyAuth");
            var auth = Activator.CreateInstance(type, "dsZQi3KtZmCv1ljt3VNWNm7sQUF1y5rJfC6kv5JiwvW0EndXdDku/dkKBp8/ufDToSxLzR4y+O/0H/t4bQtVNw==");
            var header = (string)type.GetMethod("Authorization").Invoke(auth, new object[] { "GET", "dbs", "dbs/ToDoList", "Thu, 27 Apr 2017 00:51:12 GMT" });
            const string documented = "type%3dmaster%26ver%3d1.0%26sig%3dc09PEVJrgp2uQRkr934kFbTqhByc7TVr3OHyqlu%2bc%2bc%3d";
            // Escapes may differ in letter case; the decoded texts may not.
            Check.Equal(Uri.UnescapeDataString(documented), Uri.UnescapeDataString(header), "authorization header");
            var date = (string)type.GetMethod("RequestDate").Invoke(null, new object[] { new DateTime(2017, 4, 27, 0, 51, 12, DateTimeKind.Utc) });
            Check.Equal("Thu, 27 Apr 2017 00:51:12 GMT", date, "RFC 1123 date");
        }

        private static void ConnectFailures()
        {
            var w = new CAzureResourceWrapper();
            string wrongKey = Convert.ToBase64String(new byte[64]);
            Check.True(!w.Connect(Endpoint, wrongKey, LocalOptions), "a wrong key must not connect");
            string error = w.GetLastErrorString();
            Check.True(error.Contains("401") && error.Contains("check the account key"), "wrong-key error names the cause: " + error);
            Check.True(!error.Contains(wrongKey) && !error.Contains(Key), "the error text holds no key");
            Check.True(!w.CheckConnection(), "no connection after a failed connect");

            var started = DateTime.UtcNow;
            Check.True(!w.Connect("https://127.0.0.1:1", Key, LocalOptions), "a closed port must not connect");
            Check.True((DateTime.UtcNow - started).TotalSeconds < 10, "a refused connection fails fast");
            Check.True(w.GetLastErrorString().Contains("127.0.0.1:1"), "the error names the endpoint: " + w.GetLastErrorString());

            Check.True(!w.Connect(Endpoint, Key, ""), "the self-signed certificate is refused unless verification is off");
            Check.True(!w.Connect(Endpoint, "not base64!", LocalOptions), "a malformed key is refused");
            Check.True(!w.GetLastErrorString().Contains("not base64!"), "the malformed key is not echoed");
            Check.True(!w.Connect(Endpoint, Key, "verifyTsl=false"), "a misspelt option is refused");
            Check.True(w.Connect(Endpoint, Key, LocalOptions), "the right key connects: " + w.GetLastErrorString());
            Check.True(w.CheckConnection(), "CheckConnection after connect");
            w.Disconnect();
            Check.True(!w.CheckConnection(), "CheckConnection after disconnect");
        }

        private static void ListsEnumerate()
        {
            var list = CCloudWrapperFactory.CreateSStringLibList();
            foreach (var s in new[] { "a", "", "ü" }) list.Add(new SStringLib { strValue = s });
            Check.Equal("a||ü", string.Join("|", Texts(list)), "texts in order");
            Check.Equal(0, Texts(new object()).Count, "a foreign object enumerates as empty");
            var e = SStringListEnumerator.GetEnumerator(list);
            Check.True(e.Current() == null, "Current before MoveNext is null, not an exception");
            while (e.MoveNext()) { }
            Check.True(!e.MoveNext() && e.Current() == null, "the end is stable");

            var w = Connected();
            var accounts = w.GetDatabaseAccountInfoList("", 0, 0);
            var ae = SStorageAccountInfoLibListEnumerator.GetEnumerator(accounts);
            Check.True(ae.MoveNext(), "one account");
            Check.Equal("127.0.0.1", ae.Current().strName, "account name");
            Check.True(ae.Current().strLocation.Length > 0, "account location");
            Check.True(!ae.MoveNext(), "only one account");
            var region = w.GetDatabaseAccountInfoListForRegion("southcentralus", 2, 0);
            Check.True(SStorageAccountInfoLibListEnumerator.GetEnumerator(region).MoveNext(), "region match ignores spaces and case");
            Check.True(!SStorageAccountInfoLibListEnumerator.GetEnumerator(w.GetDatabaseAccountInfoListForRegion("Mars", 1, 0)).MoveNext(), "no such region");
        }

        private static void Catalogue()
        {
            var w = Connected();
            string db = Unique("catalogue");
            MakeContainer(w, db, "b-second", 0);
            MakeContainer(w, db, "a-first", 0);
            MakeContainer(w, db, "other", 0);
            Check.True(Texts(w.ListCosmosDBDatabases("", "", true)).Contains(db), "database listed");
            Check.Equal("a-first,b-second,other", string.Join(",", Texts(w.ListCosmosDBContainers("", db, "", true))), "containers sorted");
            Check.Equal("a-first", string.Join(",", Texts(w.ListCosmosDBContainers("", db, "a-", true))), "prefix filter");
            Check.True(w.ListCosmosDBContainers("", db + "-missing", "", true) == null, "a missing database fails");
            Check.True(w.GetLastErrorString().Contains("does not exist"), "and says so");
            Check.True(w.ListCosmosDBDatabases("someone-else", "", false) == null, "another account fails");
            string endpoint = null, scheme = null;
            Check.True(w.GetCosmosDBAuthenticationInfo("", ref endpoint, ref scheme), "authentication info");
            Check.True(endpoint.StartsWith(Endpoint) && scheme == "master-key", "endpoint and scheme, no key");
        }

        private static void CreateAndDescribe()
        {
            var w = Connected();
            string db = Unique("describe");
            Check.True(w.CreateCosmosDBDatabase("", db, false, "", 0, 0, false), "create database");
            Check.True(!w.CreateCosmosDBDatabase("", db, true, "", 0, 0, false), "an existing database fails when asked to");
            Check.True(w.CreateCosmosDBDatabase("", db, false, "", 0, 0, false), "and passes when not");
            int throughput = 700, ttl = 3600;
            string policy = "{\"indexingMode\":\"consistent\",\"automatic\":true,\"includedPaths\":[{\"path\":\"/*\"}],\"excludedPaths\":[{\"path\":\"/big/?\"}]}";
            Check.True(w.CreateCosmosDBContainer("", db, true, "c", PartitionKey, policy, ref throughput, ref ttl, true), "create: " + w.GetLastErrorString());
            Check.Equal(700, throughput, "throughput in effect");
            Check.Equal(3600, ttl, "default TTL in effect");
            string pk = null, indexing = null;
            int n1 = -5, n2 = -5, n3 = -5, n4 = -5;
            Check.True(w.DescribeCosmosDBContainer(ref pk, ref n1, ref n2, ref n3, ref n4, ref indexing), "describe: " + w.GetLastErrorString());
            Check.True(JToken.DeepEquals(JToken.Parse(PartitionKey), JToken.Parse(pk)), "partition key " + pk);
            Check.True(JToken.DeepEquals(JToken.Parse(policy)["excludedPaths"], JToken.Parse(indexing)["excludedPaths"]), "indexing policy " + indexing);
            Check.Equal(700, n1, "throughput");
            Check.Equal(3600, n2, "TTL");
            Check.Equal(0, n3, "no autoscale");
            Check.Equal(2, n4, "key version");
            int t = 400, l = 0;
            Check.True(!w.CreateCosmosDBContainer("", db, false, "bad", "{\"paths\":", "", ref t, ref l, false), "a broken key definition fails");
            Check.True(w.GetLastErrorString().Contains("not valid JSON"), "and says why: " + w.GetLastErrorString());
            Check.True(w.RemoveCosmosDBContainer("", db, false, "c", ""), "remove");
            Check.True(!w.RemoveCosmosDBContainer("", db, false, "c", ""), "removing again fails");
            Check.True(w.RemoveCosmosDBContainer("", db, true, "c", ""), "unless missing is allowed");
            Check.True(!w.DescribeCosmosDBContainer(ref pk, ref n1, ref n2, ref n3, ref n4, ref indexing), "the removed container is closed");
        }

        private static List<JObject> SampleItems(int count)
        {
            var items = new List<JObject>();
            string[] keys = { "a", "ß-ü", "日本", "🚀" };
            for (int i = 0; i < count; i++)
            {
                items.Add(new JObject
                {
                    ["id"] = "i" + i, ["pk"] = keys[i % keys.Length], ["n"] = i, ["big"] = 9007199254740991L, // the local server keeps numbers as doubles
                   
                    ["f"] = 1e308, ["tiny"] = 5e-324, ["when"] = "2024-01-02T03:04:05Z", ["nested"] = new JObject { ["x"] = new JArray(1, "zwei", null) },
                });
            }
            items.Add(new JObject { ["id"] = "large", ["pk"] = "a", ["blob"] = new string('x', 900 * 1024) });
            items.Add(new JObject { ["id"] = "no-key" });
            return items;
        }

        private static void RestoreAndReadBack()
        {
            var w = Connected();
            string db = Unique("restore");
            MakeContainer(w, db, "c", 0);
            var items = SampleItems(450);
            Check.True(w.StartCosmosDBRestore(8, ""), "start: " + w.GetLastErrorString());
            var list = CCloudWrapperFactory.CreateSStringLibList();
            foreach (var item in items.Take(200)) list.Add(new SStringLib { strValue = item.ToString(Newtonsoft.Json.Formatting.None) });
            Check.True(w.AddCosmosDBRestoreItems(list), "add a list: " + w.GetLastErrorString());
            foreach (var item in items.Skip(200)) Check.True(w.AddCosmosDBRestoreItem(item.ToString()), "add one: " + w.GetLastErrorString());
            Check.True(w.FlushCosmosDBRestore(), "flush: " + w.GetLastErrorString());

            long count = -1;
            Check.True(w.CountItems(ref count), "count: " + w.GetLastErrorString());
            Check.Equal((long)items.Count, count, "count after restore");
            bool empty = true;
            Check.True(w.IsEmpty(ref empty) && !empty, "not empty");

            var tokens = Texts(w.GetCosmosDBTokens(0));
            Check.True(tokens.Count >= 1, "at least one partition key range");
            var read = new Dictionary<string, JObject>();
            string continuation = "";
            bool more = true;
            int pages = 0;
            while (more)
            {
                bool success = false;
                string next = null;
                more = false;
                var page = w.GetCosmosDBData(continuation, 64, ref next, ref success, ref more);
                Check.True(success && page != null, "page read: " + w.GetLastErrorString());
                foreach (var text in Texts(page))
                {
                    var item = ParseKeepingDates(text);
                    Check.True(item["_rid"] == null && item["_ts"] == null, "system properties are left out");
                    Check.True(!read.ContainsKey((string)item["id"]), "each item once: " + item["id"]);
                    read[(string)item["id"]] = item;
                }
                Check.True(more == (next.Length > 0), "a continuation exactly when more follows");
                continuation = next;
                Check.True(++pages < 100, "paging ends");
            }
            Check.True(pages >= items.Count / 64, "pages of at most 64 items: " + pages);
            foreach (var item in items)
            {
                JObject back;
                Check.True(read.TryGetValue((string)item["id"], out back), "read back " + item["id"]);
                if (!JToken.DeepEquals(item, back))
                {
                    string text = back.ToString(Newtonsoft.Json.Formatting.None);
                    throw new CheckFailed("item " + item["id"] + " changed: " + text.Substring(0, Math.Min(200, text.Length)));
                }
            }
            bool ok = false, more2 = false;
            string none = null;
            Check.True(w.GetCosmosDBData("{\"ranges\":[]}", 10, ref none, ref ok, ref more2) != null && ok && !more2, "a finished cursor reads nothing");
            Check.True(w.GetCosmosDBData("no-such-range", 10, ref none, ref ok, ref more2) == null && !ok, "an unknown token fails");
            // Where a read may start: a range as JSON, and a continuation of the earlier form.
            int inRanges = Texts(w.GetCosmosDBTokens(1)).Sum(range => CountFrom(w, range));
            Check.Equal(items.Count, inRanges, "items read range by range, each range named by its JSON");
            Check.Equal(items.Count, tokens.Sum(id => CountFrom(w, "{\"ranges\":[\"" + id + "\"],\"token\":null}")), "earlier continuation form");
            var usage = JObject.Parse(Texts(w.GetCosmosDBTokens(-1)).Single());
            Check.True((long)usage["requests"] > pages && (long)usage["throttled"] == 0, "usage counts the requests: " + usage);
            Check.True(w.GetCosmosDBTokens(-9) == null, "an unknown code fails");

            string stats = null;
            long c1 = 0, size = 0;
            Check.True(w.ObtainContainerStatistics(ref c1, ref size, ref stats), "statistics");
            Check.Equal((long)items.Count, c1, "statistics count");
            Check.Equal((long)items.Count, (long)JObject.Parse(stats)["itemCount"], "statistics text");
        }

        // Every key of the open container, read range by range with the "keys" read.
        private static List<string> Keys(CAzureResourceWrapper w)
        {
            var keys = new List<string>();
            foreach (var range in Texts(w.GetCosmosDBTokens(1)))
            {
                var start = JObject.Parse(range);
                start["read"] = "keys";
                bool more = true;
                for (string at = start.ToString(Newtonsoft.Json.Formatting.None); more;)
                {
                    bool ok = false;
                    string next = null;
                    var page = w.GetCosmosDBData(at, 2, ref next, ref ok, ref more);
                    Check.True(ok, "keys read: " + w.GetLastErrorString());
                    Check.True(!more || next.Contains("\"read\":\"keys\""), "the continuation stays a keys read: " + next);
                    keys.AddRange(Texts(page));
                    at = next;
                }
            }
            keys.Sort(StringComparer.Ordinal);
            return keys;
        }

        // Keys come as [id, key value] with the value as written; "?delete" restores delete by
        // them, an item already gone counting as deleted.
        private static void KeysAndDeletions()
        {
            var w = Connected();
            string db = Unique("keys");
            MakeContainer(w, db, "c", 0);
            Check.True(w.StartCosmosDBRestore(4, ""), "start: " + w.GetLastErrorString());
            foreach (var item in new[] { "{\"id\":\"a\",\"pk\":\"x\"}", "{\"id\":\"b\",\"pk\":12.50}", "{\"id\":\"c\",\"pk\":\"\u00e9t\u00e9\"}", "{\"id\":\"d\"}" })
                Check.True(w.AddCosmosDBRestoreItem(item), "add: " + w.GetLastErrorString());
            Check.True(w.FlushCosmosDBRestore(), "flush: " + w.GetLastErrorString());
            var keys = Keys(w);
            Check.Equal(4, keys.Count, "one key per item: " + string.Join(" ", keys));
            Check.True(keys.Contains("[\"a\",\"x\"]") && keys.Contains("[\"d\",{}]"), "keys as [id, value], {} for none: " + string.Join(" ", keys));
            Check.True(keys.Any(k => k.StartsWith("[\"b\",12.5")), "a numeric key value: " + string.Join(" ", keys));

            Check.True(w.StartCosmosDBRestore(4, db + "/c?delete"), "start deleting: " + w.GetLastErrorString());
            var list = CCloudWrapperFactory.CreateSStringLibList();
            foreach (var key in keys.Where(k => k.StartsWith("[\"c\"") || k.StartsWith("[\"d\"")).Concat(new[] { "[\"gone\",\"x\"]" }))
                list.Add(new SStringLib { strValue = key });
            Check.True(w.AddCosmosDBRestoreItems(list), "add keys: " + w.GetLastErrorString());
            Check.True(w.FlushCosmosDBRestore(), "deletions flush, a missing item included: " + w.GetLastErrorString());
            Check.Equal(2, Keys(w).Count, "two items left");
            Check.True(w.StartCosmosDBRestore(4, db + "/c?delete"), "start deleting again");
            Check.True(!w.AddCosmosDBRestoreItem("{\"id\":\"a\"}"), "an item is no key");
            Check.True(!w.AddCosmosDBRestoreItem("[\"a\",\"x\",\"y\"]"), "a key with too many values is refused");
        }

        // The runtime's double parser is inexact, so the wrapper must never parse and print
        // items: digits written must be the digits read back.
        private static void NumbersPassThrough()
        {
            var w = Connected();
            string db = Unique("numbers");
            string[] numbers = { "0.5418205580208451", "0.11016456829383972", "1e308", "-5e-324", "123456789012345", "0.1", "-0" };
            Check.True(w.CreateCosmosDBDatabase("", db, false, "", 0, 0, false), "database");
            int t = 0, ttl = 0;
            Check.True(w.CreateCosmosDBContainer("", db, true, "c", "{\"paths\":[\"/k\"],\"kind\":\"Hash\"}", "", ref t, ref ttl, true), "container");
            Check.True(w.StartCosmosDBRestore(2, ""), "start");
            for (int i = 0; i < numbers.Length; i++)
            {
                // Numeric partition key values travel in the header with every digit, too.
                string item = "{\"id\":\"n" + i + "\",\"k\":" + numbers[0] + ",\"v\":" + numbers[i] + ",\"s\":\"\\u00fc\u00fc\\\"\"}";
                Check.True(w.AddCosmosDBRestoreItem(item), "add: " + w.GetLastErrorString());
            }
            Check.True(w.FlushCosmosDBRestore(), "flush: " + w.GetLastErrorString());
            bool ok = false, more = false;
            string next = null;
            var texts = Texts(w.GetCosmosDBData("", 100, ref next, ref ok, ref more));
            Check.Equal(numbers.Length, texts.Count, "items read");
            foreach (var n in numbers.Where(n => n != "-0" && n != "1e308" && n != "-5e-324"))
            {
                Check.True(texts.Any(text => text.Contains("\"v\":" + n + ",") || text.Contains("\"v\":" + n + "}")), "digits of " + n + " kept: " + string.Join(" ", texts));
            }
            Check.True(texts.All(text => ParseKeepingDates(text)["s"].ToString() == "üü\""), "texts kept");
        }

        // The wrapper's two ways of splitting a page, by reflection: from the decoded text (each
        // item then UTF-8 and a line feed) and straight from the bytes. They must agree byte for
        // byte, system properties dropped or kept.
        private static byte[] SplitAsText(byte[] body, bool keep, out int count)
        {
            var assembly = typeof(CAzureResourceWrapper).Assembly;
            var text = (string)assembly.GetType("CloudSDKWrapper.Utf8Text").GetMethod("Decode").Invoke(null, new object[] { body });
            var split = assembly.GetType("CloudSDKWrapper.ItemPage").GetMethod("Split");
            var items = (List<string>)split.Invoke(null, new object[] { text, keep, false });
            count = items.Count;
            var bytes = new List<byte>();
            foreach (var item in items)
            {
                bytes.AddRange(System.Text.Encoding.UTF8.GetBytes(item));
                bytes.Add((byte)'\n');
            }
            return bytes.ToArray();
        }

        private static byte[] SplitAsBytes(byte[] body, bool keep, out int[] ends)
        {
            var assembly = typeof(CAzureResourceWrapper).Assembly;
            var valid = (byte[])assembly.GetType("CloudSDKWrapper.Utf8Text").GetMethod("Valid").Invoke(null, new object[] { body });
            var page = ItemPageBytes.Rent();
            assembly.GetType("CloudSDKWrapper.Utf8ItemPage").GetMethod("Split").Invoke(null, new object[] { valid, valid.Length, keep, page });
            return Laid(page.Finish(), out ends);
        }

        // The items and their ends of a page as ItemPageBytes lays it out.
        private static byte[] Laid(byte[] laid, out int[] ends)
        {
            int count = BitConverter.ToInt32(laid, 0), length = BitConverter.ToInt32(laid, 4);
            ends = Enumerable.Range(0, count).Select(i => BitConverter.ToInt32(laid, 8 + length + 4 * i)).ToArray();
            return laid.Skip(8).Take(length).ToArray();
        }

        private static void PagesSplitFromBytes()
        {
            var utf8 = new System.Text.UTF8Encoding(false);
            string big = new string('\u00e9', 1 << 20);  // 2 MB of UTF-8
            string[] items =
            {
                "{\"_rid\":\"a\",\"id\":\"1\",\"pk\":\"\u00e9\u6771\",\"_ts\":5}",
                "{ \"id\" : \"2\" ,\n \"nested\":{\"_rid\":\"kept\",\"_ts\":1}, \"list\":[{\"_etag\":1}], \"_self\":\"s\" }",
                "{\"\\u005frid\":\"escaped name\",\"id\":\"3\",\"_rids\":\"not a system name\",\"_\":1}",
                "{\"id\":\"4\",\"s\":\"\\ud83d\\ude80 \ud83d\ude80 \\\"q\\\" \\\\ \\/ }]\",\"n\":123456789012345678901234567890.5e-3,\"m\":-0.0}",
                "{}",
                "{\"_attachments\":\"a\",\"_etag\":\"e\"}",
                "{\"id\":\"big\",\"blob\":\"" + big + "\"}",
            };
            string page = "{\"_rid\":\"p\",\"note\":\"Documents\", \"Documents\" : [ " + string.Join(" ,\r\n", items) + " ] ,\"_count\":7}";
            var bodies = new List<byte[]>
            {
                utf8.GetBytes(page),
                new byte[] { 0xEF, 0xBB, 0xBF }.Concat(utf8.GetBytes(page)).ToArray(),  // a byte order mark
                utf8.GetBytes("{\"Documents\":[]}"),
                // Invalid UTF-8 (a stray byte, an encoded surrogate, an overlong form, a cut sequence)
                // becomes U+FFFD both ways.
                utf8.GetBytes("{\"Documents\":[{\"id\":\"x").Concat(new byte[] { 0xFF, 0xED, 0xA0, 0x80, 0xC0, 0xAF, 0xE6, 0x9D })
                    .Concat(utf8.GetBytes("\",\"_ts\":1}]}")).ToArray(),
            };
            foreach (var body in bodies)
            {
                foreach (var keep in new[] { false, true })
                {
                    int[] ends;
                    var asBytes = SplitAsBytes(body, keep, out ends);
                    int count;
                    var asText = SplitAsText(body, keep, out count);
                    Check.True(asBytes.SequenceEqual(asText), "same bytes (keep " + keep + "): " + utf8.GetString(asBytes.Take(300).ToArray()) + " | " + utf8.GetString(asText.Take(300).ToArray()));
                    Check.Equal(count, ends.Length, "one end per item");
                    Check.True(ends.All(e => asBytes[e] == (byte)'\n'), "each end at a line feed");
                }
            }
            int[] firstEnds;
            var kept = utf8.GetString(SplitAsBytes(bodies[0], false, out firstEnds));
            Check.True(kept.Contains("\"_rid\":\"kept\"") && kept.Contains("\"_etag\":1") && kept.Contains("_rids") && !kept.Contains("\"_self\""),
                       "only top-level system properties are dropped: " + kept.Substring(0, 400));
        }

        // Items of every awkward kind, written and read back page by page both ways: the byte
        // pages must hold exactly the text pages' items, as UTF-8 lines.
        private static void BytePagesMatchTextPages()
        {
            var w = Connected();
            string db = Unique("pages");
            MakeContainer(w, db, "c", 0);
            Check.True(w.OpenCosmosDBContainer("", db, false, "c", ""), "open: " + w.GetLastErrorString());
            Check.True(w.StartCosmosDBRestore(4, ""), "start");
            string[] items =
            {
                "{\"id\":\"a\",\"pk\":\"Z\u00fcrich-\u6771\u4eac\",\"s\":\"\\ud83d\\ude80 \ud83d\ude80 \\\"q\\\" \\\\ \\u0000 }]\"}",
                "{\"id\":\"b\",\"pk\":\"p\",\"n\":123456789012345678901234567890,\"f\":0.5418205580208451,\"e\":-5e-324}",
                "{\"id\":\"c\",\"pk\":\"p\",\"nested\":{\"_rid\":\"kept\",\"_ts\":1},\"list\":[{\"_etag\":\"x\"}],\"_rids\":1}",
                "{\"id\":\"d\",\"pk\":\"p\",\"blob\":\"" + new string('\u00e9', 900 * 1024) + "\"}",
                "{\"id\":\"e\u00e9\",\"pk\":\"\",\"empty\":{},\"none\":null,\"deep\":[[[[{}]]]]}",
            };
            foreach (var item in items) Check.True(w.AddCosmosDBRestoreItem(item), "add: " + w.GetLastErrorString());
            Check.True(w.FlushCosmosDBRestore(), "flush: " + w.GetLastErrorString());
            foreach (bool keep in new[] { false, true })
            {
                Check.True(w.OpenCosmosDBContainer("", db, keep, "c", ""), "open: " + w.GetLastErrorString());
                var asText = new List<byte>();
                var asBytes = new List<byte>();
                int itemsRead = 0;
                foreach (bool bytes in new[] { false, true })
                {
                    bool more = true;
                    for (string at = ""; more;)
                    {
                        bool ok = false;
                        string next = null;
                        if (bytes)
                        {
                            var laid = (byte[])w.GetCosmosDBPage(at, 2, ref next, ref ok, ref more);
                            Check.True(ok, "byte page: " + w.GetLastErrorString());
                            int[] ends;
                            asBytes.AddRange(Laid(laid, out ends));
                        }
                        else
                        {
                            var page = Texts(w.GetCosmosDBData(at, 2, ref next, ref ok, ref more));
                            Check.True(ok, "text page: " + w.GetLastErrorString());
                            itemsRead += page.Count;
                            foreach (var text in page) asText.AddRange(System.Text.Encoding.UTF8.GetBytes(text + "\n"));
                        }
                        at = next;
                    }
                }
                Check.Equal(items.Length, itemsRead, "items read");
                Check.True(asText.SequenceEqual(asBytes), "the same bytes (system properties kept: " + keep + ")");
            }
        }

        private static void RestoreFailures()
        {
            var w = Connected();
            string db = Unique("refused");
            MakeContainer(w, db, "c", 0);
            Check.True(!w.AddCosmosDBRestoreItem("{\"id\":\"x\"}"), "no restore started");
            Check.True(w.GetLastErrorString().Contains("StartCosmosDBRestore"), "says what to call");
            Check.True(!w.StartCosmosDBRestore(4, db + "/missing"), "a missing target fails");
            Check.True(w.StartCosmosDBRestore(4, db + "/c"), "start on a named target");
            Check.True(!w.AddCosmosDBRestoreItem("{\"id\":"), "broken JSON is refused");
            Check.True(!w.AddCosmosDBRestoreItem("{\"noid\":1}"), "an item without id is refused");
            Check.True(!w.AddCosmosDBRestoreItems(new object()), "a foreign list is refused");
            Check.True(w.FlushCosmosDBRestore(), "refused items are not writes: " + w.GetLastErrorString());
            // Writes into a container that disappeared fail, and the flush says so.
            for (int i = 0; i < 30; i++) Check.True(w.AddCosmosDBRestoreItem("{\"id\":\"k" + i + "\",\"pk\":\"p" + (i % 3) + "\"}"), "gathered");
            var other = Connected();
            Check.True(other.RemoveCosmosDBContainer("", db, false, "c", ""), "remove the target behind the restore's back");
            Check.True(!w.FlushCosmosDBRestore(), "flush fails when writes fail");
            Check.True(w.GetLastErrorString().Contains("30 of"), "counts the failed items: " + w.GetLastErrorString());
            Check.True(!w.AddCosmosDBRestoreItem("{\"id\":\"late\",\"pk\":\"p\"}"), "a failed restore takes no more items");
        }

        private static void ScriptsRoundTrip()
        {
            var w = Connected();
            string db = Unique("scripts");
            MakeContainer(w, db, "source", 0);
            string scripts = "{\"storedProcedures\":[{\"id\":\"sp1\",\"body\":\"function sp1() { return 'ü'; }\"}]," +
                             "\"triggers\":[{\"id\":\"t1\",\"body\":\"function t1() {}\",\"triggerType\":\"Pre\",\"triggerOperation\":\"Create\"}]," +
                             "\"userDefinedFunctions\":[{\"id\":\"f1\",\"body\":\"function f1(x) { return x; }\"}]}";
            Check.True(w.RestoreAttachedScripts(scripts, false), "write scripts: " + w.GetLastErrorString());
            Check.True(!w.RestoreAttachedScripts(scripts, false), "existing scripts fail without replace");
            Check.True(w.RestoreAttachedScripts(scripts, true), "and are replaced with it: " + w.GetLastErrorString());
            int n = 0;
            string back = null;
            Check.True(w.BackupAttachedScripts(true, ref n, ref back), "back up: " + w.GetLastErrorString());
            Check.Equal(3, n, "script count");
            Check.True(JToken.DeepEquals(JToken.Parse(scripts), JToken.Parse(back)), "scripts unchanged: " + back);
            Check.True(w.BackupAttachedScripts(false, ref n, ref back) && n == 2, "without functions");
            Check.True(w.RemoveAllTriggers(), "remove triggers");
            Check.True(w.BackupAttachedScripts(true, ref n, ref back) && n == 2 && ((JArray)JObject.Parse(back)["triggers"]).Count == 0, "triggers gone");
        }

        private static void ThroughputChanges()
        {
            var w = Connected();
            string db = Unique("throughput");
            MakeContainer(w, db, "c", 500);
            int before = 0;
            Check.True(w.ChangeCosmosDBThroughput(800, 0, ref before), "change: " + w.GetLastErrorString());
            Check.Equal(500, before, "previous throughput");
            string pk = null, ip = null;
            int n1 = 0, n2 = 0, n3 = 0, n4 = 0;
            Check.True(w.DescribeCosmosDBContainer(ref pk, ref n1, ref n2, ref n3, ref n4, ref ip), "describe");
            Check.Equal(800, n1, "new throughput");
            Check.True(!w.ChangeCosmosDBThroughput(850, 0, ref before), "a throughput the service refuses fails");
            Check.True(w.GetLastErrorString().Contains("400"), "with the service's status: " + w.GetLastErrorString());
            Check.True(!w.ChangeCosmosDBThroughput(800, 1, ref before), "a database without its own throughput fails");
        }
    }
}
