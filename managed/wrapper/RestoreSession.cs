// A restore in progress: items go to the service as upserts with at most N requests in
// flight. Items of one partition key value are gathered into transactional batches (up to
// 100 operations and well under the 2 MB request limit), which the service takes far faster
// than single writes; a lone or very large item goes as a single upsert. Flush sends what is
// gathered, waits for every request, and reports whether any item failed.
//
// Failures are of two kinds. An item the service refuses (400, 409, 412, 413) is the item's
// own; when items are reported rather than stopped at (itemFailures=report), a refused batch
// is written again item by item so that each refused item is listed with its reason and the
// others are written. Anything else (no connection, 401/403/404, throttling past the wait
// limit, server errors past their retries) stops the restore: Add refuses further items.
using System;
using System.Collections.Generic;
using System.Text;
using System.Threading;
using System.Threading.Tasks;
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    internal sealed partial class RestoreSession
    {
        private const int MaxBatchItems = 100;
        private const int MaxBatchBytes = 1536 * 1024;
        // Gathered items held at most before everything is sent, bounding memory.
        private const int MaxGatheredBytes = 32 * 1024 * 1024;

        private sealed class Group
        {
            public readonly List<string> Items = new List<string>();
            public int Bytes;
        }

        private readonly CosmosService m_service;
        private readonly ContainerRef m_container;
        private readonly bool m_batches;
        private readonly bool m_reportItems;
        private readonly List<JObject> m_failedItems = new List<JObject>();
        private string m_fatal;
        // Failed items listed at most; more are only counted.
        private const int MaxListedFailures = 100000;
        // Under an RU budget a batch costs at most this share of a second's budget, so that
        // spending stays even from second to second.
        private const double BatchShareOfBudget = 0.05;
        // A batch throttled this many times in a row is split in two.
        private const int BatchThrottledAttempts = 3;
        private readonly SemaphoreSlim m_slots;
        private readonly object m_lock = new object();
        private readonly Dictionary<string, Group> m_groups = new Dictionary<string, Group>();
        private readonly List<Task> m_inFlight = new List<Task>();
        private int m_gatheredBytes;
        private long m_added, m_written, m_failed;
        private string m_firstFailure;

        public RestoreSession(CosmosService service, ContainerRef container, int parallelism, bool batches, bool reportItems)
        {
            m_service = service;
            m_container = container;
            m_batches = batches;
            m_reportItems = reportItems;
            m_slots = new SemaphoreSlim(Math.Max(1, parallelism));
        }

        public ContainerRef Container { get { return m_container; } }
        public long Added { get { return Interlocked.Read(ref m_added); } }
        public long Written { get { return Interlocked.Read(ref m_written); } }
        public long Failed { get { return Interlocked.Read(ref m_failed); } }

        // Takes one item; false (with the reason) when the text is not an item or when the
        // restore has already failed, so that a host stops feeding a broken restore early.
        public bool Add(string text, out string error)
        {
            error = null;
            string stop = m_reportItems ? Fatal() : FirstFailure();
            if (stop != null)
            {
                error = "The restore has already failed: " + stop;
                return false;
            }
            if (m_deletions) return AddDeletion(text, out error);
            string key;
            try
            {
                key = KeyOf(text);
            }
            catch (CosmosException e)
            {
                error = "Item " + (Added + 1) + " is refused: " + e.Message;
                return false;
            }
            Interlocked.Increment(ref m_added);
            int bytes = Encoding.UTF8.GetByteCount(text);
            if (!m_batches || bytes > MaxBatchBytes / 2)
            {
                Start(key, new List<string> { text });
                return true;
            }
            List<string> ready = null;
            bool sendAll;
            lock (m_lock)
            {
                Group group;
                if (!m_groups.TryGetValue(key, out group)) m_groups[key] = group = new Group();
                if (group.Bytes + bytes > MaxBatchBytes)
                {
                    ready = TakeGroup(key);
                    m_groups[key] = group = new Group();
                }
                group.Items.Add(text);
                group.Bytes += bytes;
                m_gatheredBytes += bytes;
                if (ready == null && group.Items.Count >= BatchItemLimit()) ready = TakeGroup(key);
                sendAll = m_gatheredBytes > MaxGatheredBytes;
            }
            if (ready != null) Start(key, ready);
            if (sendAll) SendGathered();
            return true;
        }

        // The partition key header of an item, after checking that the text is one JSON object
        // with a text id. The item itself is sent as it is.
        private string KeyOf(string text)
        {
            int start = RawJson.SkipSpace(text ?? "", 0);
            if (text == null || start >= text.Length || text[start] != '{') throw new CosmosException(0, "it is not a JSON object.");
            if (RawJson.SkipSpace(text, RawJson.EndOfValue(text, start)) != text.Length) throw new CosmosException(0, "text follows the JSON object.");
            int at;
            string id = RawJson.Member(text, start, "id", out at);
            if (id == null || id.Length < 3 || id[0] != '"') throw new CosmosException(0, "it has no text [id].");
            return m_container.PartitionKey.HeaderFor(text, start);
        }

        private static int BatchItemLimit()
        {
            var budget = RuBudget.Shared;
            double rate = budget.EffectiveRate;
            if (rate <= 0) return MaxBatchItems;
            double perItem = budget.EstimatePerOperation("POST docs batch");
            return (int)Math.Max(1, Math.Min(MaxBatchItems, Math.Floor(rate * BatchShareOfBudget / perItem)));
        }

        private List<string> TakeGroup(string key)
        {
            var group = m_groups[key];
            m_groups.Remove(key);
            m_gatheredBytes -= group.Bytes;
            return group.Items;
        }

        private void SendGathered()
        {
            var ready = new List<KeyValuePair<string, List<string>>>();
            lock (m_lock)
            {
                foreach (var key in new List<string>(m_groups.Keys)) ready.Add(new KeyValuePair<string, List<string>>(key, TakeGroup(key)));
            }
            foreach (var r in ready) Start(r.Key, r.Value);
        }

        // Waits for a free slot (this is what bounds the writes in flight), then sends.
        private void Start(string partitionKey, List<string> items)
        {
            m_slots.Wait();
            Task task;
            try
            {
                task = Write(partitionKey, items);
            }
            catch (Exception)
            {
                m_slots.Release();
                throw;
            }
            lock (m_lock)
            {
                m_inFlight.RemoveAll(t => t.IsCompleted);
                m_inFlight.Add(task);
            }
        }

        private async Task Write(string partitionKey, List<string> items)
        {
            try
            {
                if (m_deletions) await Delete(partitionKey, items[0]).ConfigureAwait(false);
                else if (items.Count == 1) await Upsert(partitionKey, items[0]).ConfigureAwait(false);
                else await Batch(partitionKey, items).ConfigureAwait(false);
            }
            catch (Exception e)
            {
                var failure = e as CosmosException;
                if (failure != null && m_reportItems && IsItemsOwn(failure) && items.Count == 1) RecordItemFailure(partitionKey, items[0], failure);
                else RecordFailure(items.Count, e.Message, true);
            }
            finally
            {
                m_slots.Release();
            }
        }

        // Statuses that refuse this item only; another item may well be written.
        private static bool IsItemsOwn(int status)
        {
            return status == 400 || status == 409 || status == 412 || status == 413;
        }

        // A request refused as too long is the request's fault, whatever item it carried.
        private static bool IsItemsOwn(CosmosException failure)
        {
            return IsItemsOwn(failure.StatusCode) && !failure.RequestTooLong;
        }

        private async Task Upsert(string partitionKey, string item)
        {
            var request = m_container.Path.Feed("POST", "docs", "upsert an item into [" + m_container + "]")
                .WithJson(item)
                .WithHeader("x-ms-documentdb-is-upsert", "True")
                .WithHeader("x-ms-documentdb-partitionkey", partitionKey);
            var response = await m_service.SendAsync(request).ConfigureAwait(false);
            if (!response.Ok) throw CosmosService.Failure(request, response);
            Interlocked.Increment(ref m_written);
        }

        private async Task Batch(string partitionKey, List<string> items)
        {
            var request = m_container.Path.Feed("POST", "docs", "write a batch of " + items.Count + " items into [" + m_container + "]")
                .WithHeader("x-ms-cosmos-is-batch-request", "True")
                .WithHeader("x-ms-cosmos-batch-atomic", "True")
                .WithHeader("x-ms-documentdb-partitionkey", partitionKey);
            request.Body = BatchBody(partitionKey, items);
            request.Operations = items.Count;
            request.ThrottledAttempts = BatchThrottledAttempts;
            var response = await m_service.SendAsync(request).ConfigureAwait(false);
            int refused = response.Ok ? RefusedOperation(request, response, items.Count) : response.Status;
            if (refused == 0)
            {
                Interlocked.Add(ref m_written, items.Count);
                return;
            }
            if (refused == 429)
            {
                // Still throttled: a large batch may never fit what the partition has left in a
                // second; its halves do, one after the other.
                int half = items.Count / 2;
                await WriteSmaller(partitionKey, items.GetRange(0, half)).ConfigureAwait(false);
                await WriteSmaller(partitionKey, items.GetRange(half, items.Count - half)).ConfigureAwait(false);
                return;
            }
            if (!m_reportItems || !IsItemsOwn(refused) || (!response.Ok && CosmosService.IsRequestTooLong(response)))
            {
                if (!response.Ok) throw CosmosService.Failure(request, response);
                throw new CosmosException(refused, request.What + " failed: an operation answered " + refused + ".");
            }
            // The batch wrote nothing: each item goes again on its own, to name those refused.
            foreach (var item in items)
            {
                try
                {
                    await Upsert(partitionKey, item).ConfigureAwait(false);
                }
                catch (CosmosException e) when (IsItemsOwn(e))
                {
                    RecordItemFailure(partitionKey, item, e);
                }
            }
        }

        // [{"operationType":"Upsert","partitionKey":KEY,"resourceBody":ITEM},...] as UTF-8,
        // encoded once into an array of its final size.
        private static byte[] BatchBody(string partitionKey, List<string> items)
        {
            // Each operation names its partition key as well, as the service's batch format wants.
            var head = Encoding.UTF8.GetBytes("{\"operationType\":\"Upsert\",\"partitionKey\":" + Json.Quote(partitionKey) + ",\"resourceBody\":");
            long size = 2 + Math.Max(0, items.Count - 1);  // brackets and commas
            foreach (var item in items) size += head.Length + Encoding.UTF8.GetByteCount(item) + 1;
            if (size > int.MaxValue) throw new CosmosException(0, "A batch of " + items.Count + " items is larger than 2 GB.");
            var body = new byte[size];
            int at = 0;
            body[at++] = (byte)'[';
            for (int i = 0; i < items.Count; i++)
            {
                if (i > 0) body[at++] = (byte)',';
                Buffer.BlockCopy(head, 0, body, at, head.Length);
                at += head.Length;
                at += Encoding.UTF8.GetBytes(items[i], 0, items[i].Length, body, at);
                body[at++] = (byte)'}';
            }
            body[at] = (byte)']';
            return body;
        }

        private Task WriteSmaller(string partitionKey, List<string> items)
        {
            return items.Count == 1 ? Upsert(partitionKey, items[0]) : Batch(partitionKey, items);
        }

        // The status of the operation that failed the batch (not the 424s of the others), or 0.
        private static int RefusedOperation(RestRequest request, RestResponse response, int count)
        {
            var statuses = BatchResult.Statuses(response.BodyBytes);
            if (statuses == null || statuses.Count != count) throw new CosmosException(response.Status, request.What + ": the answer does not list every operation.");
            int refused = 0;
            foreach (int status in statuses)
            {
                if (status >= 200 && status < 300) continue;
                if (status != 424 || refused == 0) refused = status;
            }
            return refused;
        }

        private void RecordFailure(int count, string message, bool fatal)
        {
            Interlocked.Add(ref m_failed, count);
            lock (m_lock)
            {
                if (m_firstFailure == null) m_firstFailure = message;
                if (fatal && m_fatal == null) m_fatal = message;
            }
        }

        private void RecordItemFailure(string partitionKey, string item, CosmosException e)
        {
            RecordFailure(1, e.Message, false);
            int at;
            string id = RawJson.Member(item, RawJson.SkipSpace(item, 0), "id", out at);
            var entry = new JObject
            {
                ["id"] = id != null ? Json.Parse(id) : null, ["partitionKey"] = Json.Parse(partitionKey),
                ["status"] = e.StatusCode, ["reason"] = e.Message,
            };
            lock (m_lock)
            {
                if (m_failedItems.Count < MaxListedFailures) m_failedItems.Add(entry);
            }
        }

        // The items refused so far, each as {"id","partitionKey","status","reason"}.
        public List<JObject> FailedItems()
        {
            lock (m_lock) return new List<JObject>(m_failedItems);
        }

        private string Fatal()
        {
            lock (m_lock) return m_fatal;
        }

        private string FirstFailure()
        {
            lock (m_lock) return m_firstFailure;
        }

        // Sends everything gathered and waits for all writes; the reason when any item failed.
        public string Flush()
        {
            SendGathered();
            Task[] pending;
            lock (m_lock) pending = m_inFlight.ToArray();
            Task.WaitAll(pending);
            lock (m_lock) m_inFlight.RemoveAll(t => t.IsCompleted);
            // Reported items are listed, not failed: only a stopped restore fails the flush then.
            string failure = m_reportItems ? Fatal() : FirstFailure();
            if (failure == null) return null;
            return Failed + " of " + Added + " items were not written; first failure: " + failure;
        }
    }
}
