// What one wrapper object's requests have cost since it connected: request units (the sum of
// x-ms-request-charge), requests answered, requests throttled (429) and time spent waiting
// for throttling to pass. GetCosmosDBTokens(-1) hands it out as JSON.
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    internal sealed class RequestUsage
    {
        private readonly object m_lock = new object();
        private double m_charge;
        private long m_requests, m_throttled, m_throttleWaitMs;

        public void Answered(double charge, bool throttled)
        {
            lock (m_lock)
            {
                m_charge += charge;
                m_requests++;
                if (throttled) m_throttled++;
            }
        }

        public void Waited(int ms)
        {
            lock (m_lock) m_throttleWaitMs += ms;
        }

        public JObject ToJson()
        {
            lock (m_lock)
            {
                return new JObject
                {
                    ["requestCharge"] = System.Math.Round(m_charge, 2), ["requests"] = m_requests,
                    ["throttled"] = m_throttled, ["throttleWaitMs"] = m_throttleWaitMs,
                };
            }
        }
    }
}
