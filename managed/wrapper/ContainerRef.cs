// A container that the wrapper works on: its names, its service ids and its partition key.
// Made from the service's own description, so every later call uses what the service said.
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    internal sealed class ContainerRef
    {
        public readonly string Database;
        public readonly string Name;
        public readonly string Rid;
        public readonly JObject Properties;
        public readonly PartitionKeyDefinition PartitionKey;
        public readonly ResourcePath Path;

        public ContainerRef(string database, string name, JObject properties)
        {
            Database = database;
            Name = name;
            Properties = properties;
            Rid = (string)properties["_rid"] ?? "";
            PartitionKey = new PartitionKeyDefinition(properties["partitionKey"] as JObject);
            Path = ResourcePath.Container(database, name);
        }

        public override string ToString() { return Database + "/" + Name; }
    }
}
