// The two forms of a resource's address: the link that the signature covers (ids as they
// are) and the request path (each id escaped). Ids cannot contain '/', so joining is safe.
using System;

namespace CloudSDKWrapper
{
    internal struct ResourcePath
    {
        public readonly string Link;
        public readonly string Path;

        private ResourcePath(string link, string path)
        {
            Link = link;
            Path = path;
        }

        public static readonly ResourcePath Root = new ResourcePath("", "");

        public ResourcePath Child(string type, string id)
        {
            if (string.IsNullOrEmpty(id)) throw new CosmosException(0, "A " + type + " name must not be empty.");
            if (id.IndexOf('/') >= 0) throw new CosmosException(0, "Name [" + id + "] must not contain '/'.");
            string prefixLink = Link.Length > 0 ? Link + "/" : "";
            string prefixPath = Path.Length > 0 ? Path + "/" : "";
            return new ResourcePath(prefixLink + type + "/" + id, prefixPath + type + "/" + Uri.EscapeDataString(id));
        }

        public static ResourcePath Database(string db) { return Root.Child("dbs", db); }
        public static ResourcePath Container(string db, string container) { return Database(db).Child("colls", container); }

        // A request on this resource itself (read, replace, delete).
        public RestRequest On(string method, string type, string what)
        {
            return new RestRequest { Method = method, Path = Path, ResourceType = type, ResourceLink = Link, What = what };
        }

        // A request on a feed below this resource (list, create, query): signed with this link.
        public RestRequest Feed(string method, string type, string what)
        {
            return new RestRequest
            {
                Method = method,
                Path = (Path.Length > 0 ? Path + "/" : "") + type,
                ResourceType = type,
                ResourceLink = Link,
                What = what,
            };
        }
    }
}
