// A container's attached scripts as one JSON text, for backup and restore:
// {"storedProcedures":[{"id","body"}],"triggers":[{"id","body","triggerType","triggerOperation"}],
//  "userDefinedFunctions":[{"id","body"}]}
using System.Collections.Generic;
using System.Linq;
using System.Threading.Tasks;
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    internal static class ScriptSet
    {
        private sealed class Kind
        {
            public string Name, Type, Feed;
            public string[] Fields;
        }

        private static readonly Kind[] Kinds =
        {
            new Kind { Name = "storedProcedures", Type = "sprocs", Feed = "StoredProcedures", Fields = new[] { "id", "body" } },
            new Kind { Name = "triggers", Type = "triggers", Feed = "Triggers", Fields = new[] { "id", "body", "triggerType", "triggerOperation" } },
            new Kind { Name = "userDefinedFunctions", Type = "udfs", Feed = "UserDefinedFunctions", Fields = new[] { "id", "body" } },
        };

        // The three lists do not depend on each other: they are asked for at once.
        public static JObject Read(CosmosService service, ContainerRef c, bool withFunctions, out int count)
        {
            var reads = Kinds.Select(kind => kind.Type != "udfs" || withFunctions
                ? Task.Run(() => service.ReadFeed(c.Path.Feed("GET", kind.Type, "list " + kind.Name + " of [" + c + "]"), kind.Feed))
                : Task.FromResult(new List<JObject>())).ToArray();
            var result = new JObject();
            count = 0;
            for (int k = 0; k < Kinds.Length; k++)
            {
                var list = new JArray();
                // Rethrows a failed read's own exception.
                foreach (var script in reads[k].GetAwaiter().GetResult())
                {
                    var kept = new JObject();
                    foreach (var f in Kinds[k].Fields) kept[f] = script[f];
                    list.Add(kept);
                    count++;
                }
                result[Kinds[k].Name] = list;
            }
            return result;
        }

        // Creates each script; an existing one is replaced when `replace`, else it fails.
        public static int Write(CosmosService service, ContainerRef c, JObject scripts, bool replace)
        {
            int written = 0;
            foreach (var kind in Kinds)
            {
                var list = scripts[kind.Name] as JArray;
                if (list == null) continue;
                foreach (var token in list)
                {
                    var script = token as JObject;
                    string id = script != null ? (string)script["id"] : null;
                    if (string.IsNullOrEmpty(id)) throw new CosmosException(0, "A script in [" + kind.Name + "] has no id.");
                    var body = new JObject();
                    foreach (var f in kind.Fields) if (script[f] != null) body[f] = script[f];
                    var create = c.Path.Feed("POST", kind.Type, "create " + kind.Type + " [" + id + "] in [" + c + "]").WithJson(Json.Compact(body));
                    var response = service.Send(create);
                    if (response.Status == 409 && replace)
                    {
                        var put = c.Path.Child(kind.Type, id).On("PUT", kind.Type, "replace " + kind.Type + " [" + id + "] in [" + c + "]").WithJson(Json.Compact(body));
                        service.Call(put);
                    }
                    else if (!response.Ok)
                    {
                        throw CosmosService.Failure(create, response);
                    }
                    written++;
                }
            }
            return written;
        }

        public static int RemoveTriggers(CosmosService service, ContainerRef c)
        {
            var triggers = service.ReadFeed(c.Path.Feed("GET", "triggers", "list triggers of [" + c + "]"), "Triggers");
            foreach (var t in triggers)
            {
                string id = (string)t["id"];
                var request = c.Path.Child("triggers", id).On("DELETE", "triggers", "delete trigger [" + id + "] of [" + c + "]");
                var response = service.Send(request);
                // Gone already (removed by someone else meanwhile) is what was wanted.
                if (!response.Ok && response.Status != 404) throw CosmosService.Failure(request, response);
            }
            return triggers.Count;
        }
    }
}
