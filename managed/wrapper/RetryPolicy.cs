// When to try a request again. Throttling (429) waits what the service asks for; transient
// server errors and timeouts back off exponentially; both are bounded so that a call always
// ends. Other failures are final at once: repeating them cannot help.
using System;

namespace CloudSDKWrapper
{
    internal sealed class RetryPolicy
    {
        public int MaxThrottleRetries = 9;
        public int MaxThrottleWaitMs = 30000;
        public int MaxTransientRetries = 4;
        public int BaseBackoffMs = 200;
        // A range whose split or migration is still completing (410/1007, 410/1008) is asked
        // again for up to this long before the range list is read afresh.
        public int MaxCompletingWaitMs = 30000;
        public int MaxCompletingBackoffMs = 4000;

        public static bool IsTransient(int status)
        {
            return status == 408 || status == 449 || status == 500 || status == 502 || status == 503 || status == 504;
        }

        // The wait before attempt `attempt` (1-based) after a 429, or -1 when the budget is spent.
        public int ThrottleWait(int attempt, string retryAfterMs, ref int waitedMs)
        {
            if (attempt > MaxThrottleRetries) return -1;
            int wait;
            if (!int.TryParse(retryAfterMs, out wait) || wait < 0) wait = 1000;
            if (waitedMs + wait > MaxThrottleWaitMs) return -1;
            waitedMs += wait;
            return wait;
        }

        // The wait before attempt `attempt` (1-based) while a split or migration completes, or
        // -1 once the waits would pass MaxCompletingWaitMs.
        public int CompletingWait(int attempt, ref int waitedMs)
        {
            int wait = Math.Min(MaxCompletingBackoffMs, BaseBackoffMs * (1 << Math.Min(attempt - 1, 10)));
            if (waitedMs + wait > MaxCompletingWaitMs) return -1;
            waitedMs += wait;
            return wait;
        }

        // An answer that another attempt of the same request may well cure: a 404/1002 (a
        // lagging replica under session consistency), or a 410 of a request that names no
        // range (a write or point read, which the gateway routes again by its key). A 410 of a
        // request that names a range is its caller's (the range moved), and 410/1000 (the name
        // now means another container) never passes by waiting.
        public static bool IsRetriedElsewhere(RestRequest request, int status, int substatus)
        {
            if (status == 404) return substatus == SubStatus.ReadSessionNotAvailable;
            if (status != 410 || substatus == SubStatus.NameCacheIsStale) return false;
            return !request.Headers.ContainsKey("x-ms-documentdb-partitionkeyrangeid");
        }

        // The wait before attempt `attempt` after a transient failure, or -1 when spent.
        public int TransientWait(int attempt)
        {
            if (attempt > MaxTransientRetries) return -1;
            return BaseBackoffMs * (1 << Math.Min(attempt - 1, 10));
        }
    }
}
