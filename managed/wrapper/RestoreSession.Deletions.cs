// A restore that deletes: what an incremental backup records as deleted is applied after its
// upserts. Each added text is an item's key, [id, value at each partition key path] (as a
// key-only read gives it); each key is one DELETE, at most N in flight, and an item that is
// not there any more (404 without substatus) counts as deleted, so a repeated restore deletes
// nothing twice.
using System.Collections.Generic;
using System.Threading;
using System.Threading.Tasks;

namespace CloudSDKWrapper
{
    internal sealed partial class RestoreSession
    {
        private const string DeletionsMark = "?delete";
        private bool m_deletions;

        // Takes "?delete" off a restore target ("db/c?delete"); true when it was there.
        // Resource ids cannot hold '?', so the mark is never part of a name.
        public static bool TakeDeletionsMark(ref string target)
        {
            if (target == null || !target.EndsWith(DeletionsMark)) return false;
            target = target.Substring(0, target.Length - DeletionsMark.Length);
            return true;
        }

        public void DeleteInstead() { m_deletions = true; }

        private bool AddDeletion(string key, out string error)
        {
            error = null;
            string header, item;
            try
            {
                header = DeletionOf(key, out item);
            }
            catch (CosmosException e)
            {
                error = "Deletion " + (Added + 1) + " is refused: " + e.Message;
                return false;
            }
            Interlocked.Increment(ref m_added);
            Start(header, new List<string> { item });
            return true;
        }

        // The partition key header of a key, and {"id":...} standing for the item (failure
        // records name items by their id).
        private string DeletionOf(string key, out string item)
        {
            int start = RawJson.SkipSpace(key ?? "", 0);
            if (key == null || start >= key.Length || key[start] != '[') throw new CosmosException(0, "a key is a JSON array [id, key values...].");
            var elements = RawJson.Elements(key, start);
            if (elements.Count == 0 || key[elements[0].Key] != '"') throw new CosmosException(0, "a key starts with the item's text id.");
            var values = new List<string>();
            for (int i = 1; i < elements.Count; i++) values.Add(key.Substring(elements[i].Key, elements[i].Value - elements[i].Key));
            if (values.Count != m_container.PartitionKey.Paths.Count) throw new CosmosException(0, "the key has " + values.Count + " partition key values, the container " + m_container.PartitionKey.Paths.Count + ".");
            item = "{\"id\":" + key.Substring(elements[0].Key, elements[0].Value - elements[0].Key) + "}";
            return m_container.PartitionKey.HeaderForValues(values);
        }

        private async Task Delete(string partitionKey, string item)
        {
            int at;
            string id = (string)Json.Parse(RawJson.Member(item, 0, "id", out at));
            var request = m_container.Path.Child("docs", id).On("DELETE", "docs", "delete an item of [" + m_container + "]")
                .WithHeader("x-ms-documentdb-partitionkey", partitionKey);
            var response = await m_service.SendAsync(request).ConfigureAwait(false);
            // Only the item's own 404 (no substatus) means "already deleted"; 404/1003 says the
            // container itself is gone, which stops the restore like any other failure.
            bool alreadyGone = response.Status == 404 && SubStatus.Of(response) == 0;
            if (!response.Ok && !alreadyGone) throw CosmosService.Failure(request, response);
            Interlocked.Increment(ref m_written);
        }
    }
}
