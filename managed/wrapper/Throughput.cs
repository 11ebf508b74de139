// Provisioned throughput as the service keeps it: an offer per database or container with
// either a fixed RU/s or an autoscale maximum; and where a container takes its throughput
// from (its own offer, its database's shared offer, or none at all, as on a serverless account).
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

    internal sealed class ThroughputLayout
    {
        public const string OwnOffer = "container";
        public const string SharedOffer = "database";
        public const string NoOffer = "none";

        public string Scope = NoOffer;
        public bool Serverless;
        public ThroughputInfo Offer;

        // The container's own offer, else its database's, else none. A serverless account
        // refuses every offers call; that refusal means "no offer", any other failure is one.
        public static ThroughputLayout Of(CosmosService service, ContainerRef container)
        {
            var layout = new ThroughputLayout();
            bool serverless;
            var offer = service.FindOfferUnlessServerless(container.Rid, out serverless);
            if (serverless)
            {
                layout.Serverless = true;
                return layout;
            }
            if (offer == null)
            {
                var db = service.ReadDatabase(container.Database);
                if (db != null) offer = service.FindOfferUnlessServerless((string)db["_rid"] ?? "", out serverless);
                if (offer != null) layout.Scope = SharedOffer;
            }
            else layout.Scope = OwnOffer;
            layout.Offer = ThroughputInfo.Of(offer);
            return layout;
        }

        // The container's own throughput as one number: fixed > 0, autoscale maximum < 0, 0 none.
        public int OwnSigned
        {
            get
            {
                if (Scope != OwnOffer) return 0;
                return Offer.AutoscaleMax > 0 ? -Offer.AutoscaleMax : Offer.Manual;
            }
        }

        public JObject ToJson()
        {
            return new JObject
            {
                ["layout"] = Scope, ["serverless"] = Serverless, ["manual"] = Offer.Manual, ["autoscaleMax"] = Offer.AutoscaleMax,
            };
        }
    }
}
