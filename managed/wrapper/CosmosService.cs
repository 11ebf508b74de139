// The service operations the wrapper needs, each one REST call (or one feed) with its error
// text. A failed call throws CosmosException whose message names the operation, the status
// and the service's own explanation.
using System;
using System.Collections.Generic;
using System.Threading.Tasks;
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    internal sealed class CosmosService : IDisposable
    {
        private readonly CosmosRestClient m_client;

        public CosmosService(CosmosRestClient client) { m_client = client; }

        public Uri Endpoint { get { return m_client.Endpoint; } }
        public RequestUsage Usage { get { return m_client.Usage; } }
        public SessionTokens Sessions { get { return m_client.Sessions; } }

        public RestResponse Send(RestRequest request) { return m_client.Send(request); }
        public Task<RestResponse> SendAsync(RestRequest request) { return m_client.SendAsync(request); }

        public static CosmosException Failure(RestRequest request, RestResponse response)
        {
            string code = "", message = response.Body;
            try
            {
                var body = JToken.Parse(response.Body) as JObject;
                if (body != null)
                {
                    code = (string)body["code"] ?? "";
                    message = (string)body["message"] ?? response.Body;
                }
            }
            catch (Exception)
            {
                // Not JSON: the raw body is the best explanation there is.
            }
            if (message.Length > 600) message = message.Substring(0, 600) + "...";
            string hint = response.Status == 401 ? " (check the account key)" : response.Status == 429 ? " (still throttled after retrying)" : "";
            int substatus = SubStatus.Of(response);
            return new CosmosException(response.Status, substatus, request.What + " failed: " + response.Status +
                (substatus != 0 ? "/" + substatus : "") + (code.Length > 0 ? " " + code : "") + hint + (message.Length > 0 ? ": " + message.Trim() : ""))
            {
                RequestTooLong = IsRequestTooLong(response),
            };
        }

        // The service's front end answers an over-long request 400 "Bad Request - Request Too
        // Long" ("The size of the request headers is too long"), some proxies 431.
        private static readonly System.Text.RegularExpressions.Regex TooLong = new System.Text.RegularExpressions.Regex(
            @"\b(request|header|headers)\s+((is|are)\s+)?too\s+(long|large)\b", System.Text.RegularExpressions.RegexOptions.IgnoreCase);

        public static bool IsRequestTooLong(RestResponse response)
        {
            return response.Status == 431 || (response.Status == 400 && TooLong.IsMatch(response.Body ?? ""));
        }

        public JObject Call(RestRequest request)
        {
            var response = m_client.Send(request);
            if (!response.Ok) throw Failure(request, response);
            return response.Body.Length > 0 ? Json.ParseObject(response.Body, request.What + " answer") : new JObject();
        }

        // Like Call, but a 404 gives null instead of an error.
        public JObject CallOrNull(RestRequest request)
        {
            var response = m_client.Send(request);
            if (response.Status == 404) return null;
            if (!response.Ok) throw Failure(request, response);
            return Json.ParseObject(response.Body, request.What + " answer");
        }

        // Every resource of a feed, following continuations.
        public List<JObject> ReadFeed(RestRequest template, string feedName)
        {
            var all = new List<JObject>();
            foreach (var value in ReadValues(template, feedName))
            {
                var obj = value as JObject;
                if (obj == null) throw new CosmosException(0, template.What + " answer lists a value that is not an object.");
                all.Add(obj);
            }
            return all;
        }

        // Every value of a feed or query answer, following continuations.
        public List<JToken> ReadValues(RestRequest template, string feedName)
        {
            var all = new List<JToken>();
            string continuation = null;
            do
            {
                var request = Copy(template);
                if (continuation != null) request.Headers["x-ms-continuation"] = continuation;
                var response = m_client.Send(request);
                if (!response.Ok) throw Failure(request, response);
                var page = Json.ParseObject(response.Body, request.What + " answer");
                var items = page[feedName] as JArray;
                if (items == null) throw new CosmosException(response.Status, request.What + " answer has no [" + feedName + "] list.");
                foreach (var item in items) all.Add(item);
                continuation = response.Header("x-ms-continuation");
            } while (!string.IsNullOrEmpty(continuation));
            return all;
        }

        public static RestRequest Copy(RestRequest r)
        {
            var copy = new RestRequest { Method = r.Method, Path = r.Path, ResourceType = r.ResourceType, ResourceLink = r.ResourceLink, Body = r.Body, ContentType = r.ContentType, What = r.What, Operations = r.Operations, ThrottledAttempts = r.ThrottledAttempts };
            foreach (var h in r.Headers) copy.Headers[h.Key] = h.Value;
            return copy;
        }

        public static RestRequest Query(RestRequest request, string sql, params KeyValuePair<string, JToken>[] parameters)
        {
            var body = new JObject { ["query"] = sql };
            var list = new JArray();
            foreach (var p in parameters) list.Add(new JObject { ["name"] = p.Key, ["value"] = p.Value });
            body["parameters"] = list;
            request.Method = "POST";
            request.ContentType = "application/query+json";
            request.Headers["x-ms-documentdb-isquery"] = "True";
            return request.WithJson(Json.Compact(body));
        }

        public JObject ReadAccount()
        {
            return Call(ResourcePath.Root.On("GET", "", "read account"));
        }

        public List<JObject> ListDatabases()
        {
            return ReadFeed(ResourcePath.Root.Feed("GET", "dbs", "list databases"), "Databases");
        }

        public List<JObject> ListContainers(string db)
        {
            return ReadFeed(ResourcePath.Database(db).Feed("GET", "colls", "list containers of [" + db + "]"), "DocumentCollections");
        }

        public JObject ReadDatabase(string db)
        {
            return CallOrNull(ResourcePath.Database(db).On("GET", "dbs", "read database [" + db + "]"));
        }

        public JObject ReadContainer(string db, string container)
        {
            return CallOrNull(ResourcePath.Container(db, container).On("GET", "colls", "read container [" + db + "/" + container + "]"));
        }

        // The live ranges. The feed is paged, and a split that completes between two pages
        // gives a list that holds the parent and its children: every range that another names
        // in its "parents" is dropped, as the official SDKs do, so no key is listed twice.
        public List<JObject> ReadPartitionKeyRanges(ContainerRef c)
        {
            var listed = ReadFeed(c.Path.Feed("GET", "pkranges", "read partition key ranges of [" + c + "]"), "PartitionKeyRanges");
            var live = WithoutParents(listed);
            Sessions.Retain(SessionTokens.ContainerLink(c.Path.Link), live);
            return live;
        }

        public static List<JObject> WithoutParents(List<JObject> ranges)
        {
            var parents = new HashSet<string>();
            foreach (var r in ranges)
            {
                var named = r["parents"] as JArray;
                if (named == null) continue;
                foreach (var p in named) parents.Add((string)p);
            }
            return ranges.FindAll(r => !parents.Contains((string)r["id"]));
        }

        // The offer of a database or container (by its _rid), or null when it has none
        // (shared or serverless throughput).
        public JObject FindOffer(string resourceRid)
        {
            var request = Query(ResourcePath.Root.Feed("POST", "offers", "find the throughput offer"),
                "SELECT * FROM root r WHERE r.offerResourceId = @rid",
                new KeyValuePair<string, JToken>("@rid", resourceRid));
            var offers = ReadFeed(request, "Offers");
            return offers.Count > 0 ? offers[0] : null;
        }

        // Like FindOffer, but the refusal of a serverless account gives null with `serverless`
        // set instead of an error.
        public JObject FindOfferUnlessServerless(string resourceRid, out bool serverless)
        {
            serverless = false;
            try
            {
                return FindOffer(resourceRid);
            }
            catch (CosmosException e) when (IsServerlessRefusal(e))
            {
                serverless = true;
                return null;
            }
        }

        // The service's answer to any offers call, and to a throughput on create, on a
        // serverless account: 400 "... not supported for serverless accounts."
        public static bool IsServerlessRefusal(CosmosException e)
        {
            return e.StatusCode == 400 && e.Message.IndexOf("serverless accounts", StringComparison.OrdinalIgnoreCase) >= 0;
        }

        public JObject ReplaceOffer(JObject offer)
        {
            return Call(OfferReplace(offer, "change throughput"));
        }

        // Turns a fixed offer into an autoscale one or back: the offer as it is, sent with
        // x-ms-cosmos-migrate-offer-to-autopilot (or -to-manual-throughput); the service
        // answers the migrated offer, whose value is then set by an ordinary replace.
        public JObject MigrateOffer(JObject offer, bool toAutoscale)
        {
            var request = OfferReplace(offer, toAutoscale ? "migrate the offer to autoscale" : "migrate the offer to fixed throughput");
            request.Headers[toAutoscale ? "x-ms-cosmos-migrate-offer-to-autopilot" : "x-ms-cosmos-migrate-offer-to-manual-throughput"] = "true";
            return Call(request);
        }

        private static RestRequest OfferReplace(JObject offer, string what)
        {
            string id = (string)offer["id"];
            var request = new RestRequest
            {
                Method = "PUT",
                Path = "offers/" + Uri.EscapeDataString(id),
                ResourceType = "offers",
                ResourceLink = id.ToLowerInvariant(),
                What = what,
            };
            return request.WithJson(Json.Compact(offer));
        }

        public void Dispose() { m_client.Dispose(); }
    }
}
