// A restore in progress: items go to the service as upserts with at most N requests in
// flight. Items of one partition key value are gathered into transactional batches (up to
// 100 operations and well under the 2 MB request limit), which the service takes far faster
// than single writes; a lone or very large item goes as a single upsert. Flush sends what is
// gathered, waits for every request, and reports whether any item failed.
using System;
using System.Collections.Generic;
using System.Text;
using System.Threading;
using System.Threading.Tasks;
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    internal sealed class RestoreSession
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
        private readonly SemaphoreSlim m_slots;
        private readonly object m_lock = new object();
        private readonly Dictionary<string, Group> m_groups = new Dictionary<string, Group>();
        private readonly List<Task> m_inFlight = new List<Task>();
        private int m_gatheredBytes;
        private long m_added, m_written, m_failed;
        private string m_firstFailure;

        public RestoreSession(CosmosService service, ContainerRef container, int parallelism, bool batches)
        {
            m_service = service;
            m_container = container;
            m_batches = batches;
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
            if (FirstFailure() != null)
            {
                error = "The restore has already failed: " + FirstFailure();
                return false;
            }
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
                if (ready == null && group.Items.Count >= MaxBatchItems) ready = TakeGroup(key);
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
                if (items.Count == 1) await Upsert(partitionKey, items[0]).ConfigureAwait(false);
                else await Batch(partitionKey, items).ConfigureAwait(false);
            }
            catch (Exception e)
            {
                RecordFailure(items.Count, e.Message);
            }
            finally
            {
                m_slots.Release();
            }
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
            // Each operation names its partition key as well, as the service's batch format wants.
            string operationHead = "{\"operationType\":\"Upsert\",\"partitionKey\":" + Json.Quote(partitionKey) + ",\"resourceBody\":";
            var body = new StringBuilder(items.Count * 256);
            body.Append('[');
            for (int i = 0; i < items.Count; i++)
            {
                if (i > 0) body.Append(',');
                body.Append(operationHead).Append(items[i]).Append('}');
            }
            body.Append(']');
            var request = m_container.Path.Feed("POST", "docs", "write a batch of " + items.Count + " items into [" + m_container + "]")
                .WithJson(body.ToString())
                .WithHeader("x-ms-cosmos-is-batch-request", "True")
                .WithHeader("x-ms-cosmos-batch-atomic", "True")
                .WithHeader("x-ms-documentdb-partitionkey", partitionKey);
            var response = await m_service.SendAsync(request).ConfigureAwait(false);
            if (!response.Ok) throw CosmosService.Failure(request, response);
            var results = Newtonsoft.Json.Linq.JToken.Parse(response.Body) as JArray;
            if (results == null || results.Count != items.Count) throw new CosmosException(response.Status, request.What + ": the answer does not list every operation.");
            foreach (var r in results)
            {
                int status = (int?)r["statusCode"] ?? 0;
                if (status < 200 || status >= 300) throw new CosmosException(status, request.What + " failed: an operation answered " + status + ".");
            }
            Interlocked.Add(ref m_written, items.Count);
        }

        private void RecordFailure(int count, string message)
        {
            Interlocked.Add(ref m_failed, count);
            lock (m_lock)
            {
                if (m_firstFailure == null) m_firstFailure = message;
            }
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
            string failure = FirstFailure();
            if (failure == null) return null;
            return Failed + " of " + Added + " items were not written; first failure: " + failure;
        }
    }
}
