// One request to the service's REST interface and its answer.
using System.Collections.Generic;
using System.Text;

namespace CloudSDKWrapper
{
    internal sealed class RestRequest
    {
        public string Method = "GET";
        // The path below the endpoint, already escaped, without a leading slash ("dbs/a%20b").
        public string Path = "";
        // What the signature covers: the resource type and the unescaped resource link.
        public string ResourceType = "";
        public string ResourceLink = "";
        public byte[] Body;
        public string ContentType = "application/json";
        public readonly Dictionary<string, string> Headers = new Dictionary<string, string>();
        // What the request does, for error texts ("read container [c]").
        public string What = "";
        // Operations it carries (a batch carries several), to estimate its charge per operation.
        public int Operations = 1;
        // When > 0, a throttled answer is handed back after this many throttled attempts, for a
        // caller that can make the request smaller (0: retry as the policy allows).
        public int ThrottledAttempts;

        // Requests of one kind cost alike per operation: the RU budget estimates by kind.
        public string ChargeKind
        {
            get { return Method + " " + ResourceType + (Headers.ContainsKey("x-ms-cosmos-is-batch-request") ? " batch" : ""); }
        }

        public RestRequest WithJson(string json)
        {
            Body = Encoding.UTF8.GetBytes(json);
            return this;
        }

        public RestRequest WithHeader(string name, string value)
        {
            Headers[name] = value;
            return this;
        }
    }

    internal sealed class RestResponse
    {
        public int Status;
        private string m_body;
        private byte[] m_bodyBytes;

        // The answer as text, decoded from BodyBytes when first asked for.
        public string Body
        {
            get
            {
                if (m_body == null) m_body = m_bodyBytes == null ? "" : Utf8Text.Decode(m_bodyBytes);
                return m_body;
            }
            set
            {
                m_body = value ?? "";
                m_bodyBytes = null;
            }
        }

        // The answer as the service sent it (UTF-8), for readers that need no text.
        public byte[] BodyBytes
        {
            get { return m_bodyBytes ?? Encoding.UTF8.GetBytes(Body); }
            set
            {
                m_bodyBytes = value;
                m_body = null;
            }
        }
        public readonly Dictionary<string, string> Headers = new Dictionary<string, string>(System.StringComparer.OrdinalIgnoreCase);

        public bool Ok { get { return Status >= 200 && Status < 300; } }

        public string Header(string name)
        {
            string value;
            return Headers.TryGetValue(name, out value) ? value : null;
        }
    }
}
