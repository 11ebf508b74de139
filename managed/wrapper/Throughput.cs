// Provisioned throughput as the service keeps it: an offer per database or container with
// either a fixed RU/s or an autoscale maximum.
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    internal struct ThroughputInfo
    {
        public int Manual;        // RU/s of a fixed offer, 0 when autoscale or none
        public int AutoscaleMax;  // maximum RU/s of an autoscale offer, 0 otherwise

        public static ThroughputInfo Of(JObject offer)
        {
            var info = new ThroughputInfo();
            var content = offer != null ? offer["content"] as JObject : null;
            if (content == null) return info;
            var auto = content["offerAutopilotSettings"] as JObject;
            if (auto != null && auto["maxThroughput"] != null) info.AutoscaleMax = (int)auto["maxThroughput"];
            else if (content["offerThroughput"] != null) info.Manual = (int)content["offerThroughput"];
            return info;
        }

        // The request headers that ask for this throughput when creating a resource.
        public static void AddCreateHeaders(RestRequest request, int manual, int autoscaleMax)
        {
            if (autoscaleMax > 0)
                request.Headers["x-ms-cosmos-offer-autopilot-settings"] = "{\"maxThroughput\":" + autoscaleMax + "}";
            else if (manual > 0)
                request.Headers["x-ms-offer-throughput"] = manual.ToString(System.Globalization.CultureInfo.InvariantCulture);
        }
    }
}
