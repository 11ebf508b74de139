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

        // The wait before attempt `attempt` after a transient failure, or -1 when spent.
        public int TransientWait(int attempt)
        {
            if (attempt > MaxTransientRetries) return -1;
            return BaseBackoffMs * (1 << Math.Min(attempt - 1, 10));
        }
    }
}
