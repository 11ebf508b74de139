// The answer of a transactional batch: one result per operation, in order, each with its
// statusCode (and, for a throttled operation, retryAfterMilliseconds). The service answers
// 207 when an operation failed; the batch is atomic, so the others then answer 424.
using System;
using System.Collections.Generic;
using System.Globalization;
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    internal static class BatchResult
    {
        // The answer's list of results, or null when it is not one.
        private static JArray Results(string body)
        {
            try
            {
                return Json.Parse(body) as JArray;
            }
            catch (Exception)
            {
                return null;
            }
        }

        public static List<int> Statuses(string body)
        {
            var results = Results(body);
            if (results == null) return null;
            var statuses = new List<int>();
            foreach (var r in results) statuses.Add(r is JObject ? ((int?)r["statusCode"] ?? 0) : 0);
            return statuses;
        }

        // True when an operation was throttled; `retryAfterMs` becomes the longest wait the
        // operations ask for, when the answer's header named none.
        public static bool Throttled(string body, ref string retryAfterMs)
        {
            var results = Results(body);
            if (results == null) return false;
            bool throttled = false;
            int longest = -1;
            foreach (var r in results)
            {
                var op = r as JObject;
                if (op == null || ((int?)op["statusCode"] ?? 0) != 429) continue;
                throttled = true;
                var wait = op["retryAfterMilliseconds"];
                if (wait != null && (wait.Type == JTokenType.Integer || wait.Type == JTokenType.Float)) longest = Math.Max(longest, (int)(double)wait);
            }
            if (throttled && string.IsNullOrEmpty(retryAfterMs) && longest >= 0) retryAfterMs = longest.ToString(CultureInfo.InvariantCulture);
            return throttled;
        }
    }
}
