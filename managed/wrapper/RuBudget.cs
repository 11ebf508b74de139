// The request units the whole process may spend per second (Initialize option maxRu). One
// token bucket serves every wrapper object, so threads that each have their own bridge object
// still share one budget. A request reserves what requests of its kind have cost so far
// before it is sent, and the difference to its real charge (x-ms-request-charge) is settled
// when the answer comes; the bucket may run into debt, and no request starts while it is in
// debt, so spending follows the budget on average and overshoots by at most about one
// request. On 429 the rate drops multiplicatively and then climbs back additively.
// Without a limit the budget adapts on its own, so that a process that was given none is still
// polite to the account's other clients: it holds nothing back until the service first
// throttles; then its rate starts a little below what the process spent in the second before,
// drops by a share at each 429 (at most once a second) and rises by a share of itself each
// second without one, so it stays just under what the container allows.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Threading.Tasks;

namespace CloudSDKWrapper
{
    internal sealed class RuBudget
    {
        public static readonly RuBudget Shared = new RuBudget();

        private const double BurstSeconds = 0.1;     // the bucket holds a tenth of a second
        private const double DecreaseFactor = 0.7;
        private const double IncreaseShare = 0.05;   // of the limit, per second without 429
        private const double FloorShare = 0.05;
        private const double EstimateWeight = 0.2;
        private const double AdaptiveDecrease = 0.8;
        private const double AdaptiveIncrease = 0.04;  // of the rate, per second without 429
        private const double AdaptiveFloor = 10;       // RU/s

        private readonly object m_lock = new object();
        private readonly Stopwatch m_clock = Stopwatch.StartNew();
        private readonly Dictionary<string, double> m_chargePerOperation = new Dictionary<string, double>();
        private double m_limit;
        private double m_rate;
        private double m_tokens;
        private double m_lastRefill;
        private double m_lastDecrease = -1e9;
        private double m_lastChange;
        // Adaptive mode (no limit): whether a 429 has set a rate yet, and what was charged in
        // the last second (times and charges), to start from.
        private bool m_adapting;
        private readonly Queue<KeyValuePair<double, double>> m_recent = new Queue<KeyValuePair<double, double>>();
        private double m_recentSum;

        public double Limit { get { lock (m_lock) return m_limit; } }
        public double Rate { get { lock (m_lock) return m_rate; } }
        // The rate requests are held to now: the limit's, or the adaptive one; 0 = none.
        public double EffectiveRate { get { lock (m_lock) return Limiting ? m_rate : 0; } }

        private bool Limiting { get { return m_limit > 0 || m_adapting; } }

        // 0 turns the budget off. Setting the same limit again keeps the state.
        public void Configure(double limit)
        {
            lock (m_lock)
            {
                if (limit == m_limit) return;
                m_limit = Math.Max(0, limit);
                m_rate = m_limit;
                m_tokens = 0;
                m_lastRefill = m_lastChange = Now();
                m_adapting = false;
                m_recent.Clear();
                m_recentSum = 0;
            }
        }

        private double Now() { return m_clock.Elapsed.TotalSeconds; }

        private void Refill(double now)
        {
            if (now - m_lastChange >= 1 && now - m_lastDecrease >= 1)
            {
                if (m_limit > 0 && m_rate < m_limit) m_rate = Math.Min(m_limit, m_rate + m_limit * IncreaseShare);
                else if (m_limit <= 0) m_rate += m_rate * AdaptiveIncrease;
                m_lastChange = now;
            }
            m_tokens = Math.Min(m_rate * BurstSeconds, m_tokens + (now - m_lastRefill) * m_rate);
            m_lastRefill = now;
        }

        // Waits until the bucket is out of debt, then reserves the estimated charge of a request
        // of `kind` with `operations` operations. Returns what was reserved (0 without a budget).
        public async Task<double> AcquireAsync(string kind, int operations)
        {
            while (true)
            {
                int waitMs;
                lock (m_lock)
                {
                    if (!Limiting) return 0;
                    Refill(Now());
                    if (m_tokens >= 0)
                    {
                        double estimate = Estimate(kind) * Math.Max(1, operations);
                        m_tokens -= estimate;
                        return estimate;
                    }
                    waitMs = (int)Math.Ceiling(-m_tokens / m_rate * 1000);
                }
                await Task.Delay(Math.Max(1, Math.Min(waitMs, 200))).ConfigureAwait(false);
            }
        }

        private double Estimate(string kind)
        {
            double perOperation;
            return m_chargePerOperation.TryGetValue(kind, out perOperation) ? perOperation : 1;
        }

        // Books the real charge of a request that reserved `reserved`.
        public void Settle(double reserved, double charge, string kind, int operations, bool answered)
        {
            lock (m_lock)
            {
                if (m_limit <= 0) Remember(charge);
                if (!Limiting) return;
                m_tokens += reserved - charge;
                if (!answered || charge <= 0) return;
                double perOperation = charge / Math.Max(1, operations);
                double old;
                m_chargePerOperation[kind] = m_chargePerOperation.TryGetValue(kind, out old)
                    ? old + EstimateWeight * (perOperation - old) : perOperation;
            }
        }

        // The service throttled a request: slow down, at most once a second (one burst of 429s
        // is one signal).
        public void OnThrottled()
        {
            lock (m_lock)
            {
                double now = Now();
                if (now - m_lastDecrease < 1) return;
                if (m_limit <= 0)
                {
                    Forget(now);
                    m_rate = m_adapting ? m_rate * AdaptiveDecrease : m_recentSum * AdaptiveDecrease;
                    m_rate = Math.Max(AdaptiveFloor, m_rate);
                    if (!m_adapting) m_lastRefill = now;
                    m_adapting = true;
                }
                else m_rate = Math.Max(m_limit * FloorShare, m_rate * DecreaseFactor);
                m_tokens = Math.Min(m_tokens, 0);
                m_lastDecrease = m_lastChange = now;
            }
        }

        // Adaptive mode: what was charged in the last second.
        private void Remember(double charge)
        {
            double now = Now();
            m_recent.Enqueue(new KeyValuePair<double, double>(now, charge));
            m_recentSum += charge;
            Forget(now);
        }

        private void Forget(double now)
        {
            while (m_recent.Count > 0 && now - m_recent.Peek().Key > 1)
            {
                m_recentSum -= m_recent.Dequeue().Value;
            }
        }

        // The estimated charge of one operation of `kind`, for callers that size requests to the budget.
        public double EstimatePerOperation(string kind)
        {
            lock (m_lock) return Estimate(kind);
        }
    }
}
