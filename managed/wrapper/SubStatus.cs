// The service's substatus codes (x-ms-substatus) that change what the wrapper does with a 410
// or a 404. The names follow the official SDKs' SubStatusCodes.
using System.Globalization;

namespace CloudSDKWrapper
{
    internal static class SubStatus
    {
        // 410: the name now resolves to another container (deleted and re-created).
        public const int NameCacheIsStale = 1000;
        // 410: the range is gone after a split or a completed merge. 404: a lagging replica
        // has not yet seen the session token's writes ("read session not available").
        public const int PartitionKeyRangeGone = 1002;
        public const int ReadSessionNotAvailable = 1002;
        // 404: the container itself does not exist.
        public const int OwnerResourceNotFound = 1003;
        // 410: a split, or a migration, has begun but the range list does not show it yet.
        public const int CompletingSplit = 1007;
        public const int CompletingPartitionMigration = 1008;

        // The answer's substatus, 0 when it has none.
        public static int Of(RestResponse response)
        {
            int value;
            return int.TryParse(response.Header("x-ms-substatus"), NumberStyles.Integer, CultureInfo.InvariantCulture, out value) ? value : 0;
        }

        public static bool IsCompleting(int status, int substatus)
        {
            return status == 410 && (substatus == CompletingSplit || substatus == CompletingPartitionMigration);
        }
    }
}
