// The answer of a transactional batch: one result per operation, in order, each with its
// statusCode (and, for a throttled operation, retryAfterMilliseconds). The service answers
// 207 when an operation failed; the batch is atomic, so the others then answer 424. The
// answer repeats every item written, so it is scanned as bytes for those two members only,
// without building it.
using System;
using System.Collections.Generic;
using System.Globalization;
using System.Text;

namespace CloudSDKWrapper
{
    internal static class BatchResult
    {
        // Each result's statusCode and retryAfterMilliseconds (-1 where it has none), or null
        // when the answer is not a list of results.
        private static List<KeyValuePair<int, double>> Results(byte[] body)
        {
            try
            {
                var s = new Utf8ItemPage.Scanner(body, body.Length);
                int i = s.SkipSpace(s.SkipBom(0));
                if (i >= body.Length || body[i] != '[') return null;
                var results = new List<KeyValuePair<int, double>>();
                i = s.SkipSpace(i + 1);
                if (i < body.Length && body[i] == ']') return s.SkipSpace(i + 1) == body.Length ? results : null;
                while (true)
                {
                    int end = s.EndOfValue(i);
                    bool isObject = body[i] == '{';
                    double status = isObject ? NumberOf(s, s.MemberValue(i, "statusCode")) : double.NaN;
                    double wait = isObject ? NumberOf(s, s.MemberValue(i, "retryAfterMilliseconds")) : double.NaN;
                    results.Add(new KeyValuePair<int, double>(double.IsNaN(status) ? 0 : (int)status, double.IsNaN(wait) ? -1 : wait));
                    i = s.SkipSpace(end);
                    if (i < body.Length && body[i] == ',') i = s.SkipSpace(i + 1);
                    else if (i < body.Length && body[i] == ']') return s.SkipSpace(i + 1) == body.Length ? results : null;
                    else return null;
                }
            }
            catch (CosmosException)
            {
                return null;  // malformed
            }
        }

        // The number at `at` (a JSON number, or a text holding one), else NaN.
        private static double NumberOf(Utf8ItemPage.Scanner s, int at)
        {
            if (at < 0) return double.NaN;
            int end = s.EndOfValue(at);
            string text = Encoding.UTF8.GetString(s.Bytes, at, end - at);
            if (text.Length >= 2 && text[0] == '"') text = text.Substring(1, text.Length - 2);
            double value;
            return double.TryParse(text, NumberStyles.Float, CultureInfo.InvariantCulture, out value) ? value : double.NaN;
        }

        public static List<int> Statuses(byte[] body)
        {
            var results = Results(body);
            if (results == null) return null;
            var statuses = new List<int>(results.Count);
            foreach (var r in results) statuses.Add(r.Key);
            return statuses;
        }

        // True when an operation was throttled; `retryAfterMs` becomes the longest wait the
        // operations ask for, when the answer's header named none.
        public static bool Throttled(byte[] body, ref string retryAfterMs)
        {
            var results = Results(body);
            if (results == null) return false;
            bool throttled = false;
            int longest = -1;
            foreach (var r in results)
            {
                if (r.Key != 429) continue;
                throttled = true;
                if (r.Value >= 0) longest = Math.Max(longest, (int)r.Value);
            }
            if (throttled && string.IsNullOrEmpty(retryAfterMs) && longest >= 0) retryAfterMs = longest.ToString(CultureInfo.InvariantCulture);
            return throttled;
        }
    }
}
