// A container's definition as the service keeps it: the resource minus the properties the
// service assigns itself. Kept whole, so that policies this wrapper does not know yet (unique
// keys, conflict resolution, computed properties, vector or full-text policies...) are copied
// as well when a container is made again from it.
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    internal static class ContainerDefinition
    {
        private static readonly string[] SystemProperties = { "_rid", "_ts", "_self", "_etag", "_docs", "_sprocs", "_triggers", "_udfs", "_conflicts" };

        public static JObject WithoutSystemProperties(JObject resource)
        {
            var copy = (JObject)resource.DeepClone();
            foreach (var name in SystemProperties) copy.Remove(name);
            return copy;
        }

        // An indexing policy never has a partition key; a whole definition always has one.
        public static bool IsWhole(JObject policyOrDefinition)
        {
            return policyOrDefinition["partitionKey"] is JObject;
        }

        // The body that creates a container named `id` from a definition: the id replaced and
        // the system properties left out, everything else as it is.
        public static JObject ForCreate(JObject definition, string id)
        {
            var body = new JObject { ["id"] = id };
            foreach (var member in WithoutSystemProperties(definition).Properties())
            {
                if (member.Name != "id") body[member.Name] = member.Value;
            }
            return body;
        }
    }
}
