// Throttling and transient failures, which the local Cosmos DB server never produces: a small
// scripted HTTP server on 127.0.0.1 answers each request with the next status of a script.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Net;
using System.Text;
using System.Threading;
using CloudSDKWrapper;

namespace CloudSDKWrapperTests
{
    internal sealed class ScriptedServer : IDisposable
    {
        private readonly HttpListener m_listener = new HttpListener();
        private readonly Queue<int> m_script;
        private readonly int m_afterScript;
        private readonly Thread m_thread;
        public int Requests;
        public string Url { get; private set; }

        // Answers with the statuses of `script` in turn, then `afterScript` for ever.
        public ScriptedServer(IEnumerable<int> script, int afterScript)
        {
            m_script = new Queue<int>(script);
            m_afterScript = afterScript;
            var random = new Random();
            for (int attempt = 0; ; attempt++)
            {
                Url = "http://127.0.0.1:" + random.Next(20000, 60000) + "/";
                try
                {
                    m_listener.Prefixes.Add(Url);
                    m_listener.Start();
                    break;
                }
                catch (HttpListenerException) when (attempt < 20)
                {
                    m_listener.Prefixes.Clear();
                }
            }
            m_thread = new Thread(Serve) { IsBackground = true };
            m_thread.Start();
        }

        private void Serve()
        {
            while (m_listener.IsListening)
            {
                HttpListenerContext context;
                try
                {
                    context = m_listener.GetContext();
                }
                catch (Exception)
                {
                    return;
                }
                Interlocked.Increment(ref Requests);
                int status;
                lock (m_script) status = m_script.Count > 0 ? m_script.Dequeue() : m_afterScript;
                var response = context.Response;
                response.StatusCode = status;
                if (status == 429) response.AddHeader("x-ms-retry-after-ms", "20");
                string body = status == 200
                    ? "{\"id\":\"scripted\",\"writableLocations\":[{\"name\":\"Here\"}],\"readableLocations\":[]}"
                    : "{\"code\":\"Status" + status + "\",\"message\":\"scripted answer\"}";
                var bytes = Encoding.UTF8.GetBytes(body);
                response.ContentType = "application/json";
                response.ContentLength64 = bytes.Length;
                response.OutputStream.Write(bytes, 0, bytes.Length);
                response.Close();
            }
        }

        public void Dispose()
        {
            m_listener.Stop();
            m_listener.Close();
        }
    }

    internal static class RetryTests
    {
        private static readonly string Key = Convert.ToBase64String(Encoding.ASCII.GetBytes("a key for a scripted server"));

        public static void Register(TestRunner runner)
        {
            runner.Add("throttled requests wait and succeed", ThrottledThenServed);
            runner.Add("throttling is bounded", ThrottlingIsBounded);
            runner.Add("transient errors are retried with back-off", TransientThenServed);
            runner.Add("other failures are final at once", OtherFailuresAreFinal);
        }

        private static CAzureResourceWrapper Wrapper(string options)
        {
            var w = new CAzureResourceWrapper();
            Check.True(w.Initialize("retry-tests", options, 5000), "Initialize: " + w.GetLastErrorString());
            return w;
        }

        private static void ThrottledThenServed()
        {
            using (var server = new ScriptedServer(new[] { 429, 429, 429 }, 200))
            {
                var w = Wrapper("");
                var watch = Stopwatch.StartNew();
                Check.True(w.Connect(server.Url, Key, ""), "connects after throttling: " + w.GetLastErrorString());
                Check.Equal(4, server.Requests, "three throttled attempts and one served");
                Check.True(watch.ElapsedMilliseconds >= 60, "waited the retry-after of each 429: " + watch.ElapsedMilliseconds + " ms");
                var e = SStringListEnumerator.GetEnumerator(w.GetCosmosDBTokens(-1));
                Check.True(e.MoveNext(), "a usage record: " + w.GetLastErrorString());
                var usage = Newtonsoft.Json.Linq.JObject.Parse(e.Current().strValue);
                Check.True((long)usage["requests"] == 4 && (long)usage["throttled"] == 3 && (long)usage["throttleWaitMs"] >= 60, "usage: " + usage);
            }
        }

        private static void ThrottlingIsBounded()
        {
            using (var server = new ScriptedServer(new int[0], 429))
            {
                var w = Wrapper("maxRetries=3");
                Check.True(!w.Connect(server.Url, Key, ""), "gives up");
                Check.Equal(4, server.Requests, "one attempt and three retries");
                Check.True(w.GetLastErrorString().Contains("429") && w.GetLastErrorString().Contains("throttled"), "says so: " + w.GetLastErrorString());
            }
            var checker = new CAzureResourceWrapper();
            foreach (var bad in new[] { "maxRu=-1", "maxRu=lots", "itemFailures=maybe", "maxRetryWaitMs=86400001" })
                Check.True(!checker.Initialize("", bad, 0), "refuses " + bad);
            Check.True(checker.Initialize("", "maxRu=0;itemFailures=report;maxRetries=1000000;maxRetryWaitMs=86400000", 0), "takes the limits: " + checker.GetLastErrorString());
        }

        private static void TransientThenServed()
        {
            using (var server = new ScriptedServer(new[] { 503, 500 }, 200))
            {
                var w = Wrapper("");
                var watch = Stopwatch.StartNew();
                Check.True(w.Connect(server.Url, Key, ""), "connects after transient errors: " + w.GetLastErrorString());
                Check.Equal(3, server.Requests, "two failed attempts and one served");
                Check.True(watch.ElapsedMilliseconds >= 200 + 400, "backed off 200 then 400 ms: " + watch.ElapsedMilliseconds + " ms");
            }
            using (var server = new ScriptedServer(new int[0], 503))
            {
                var w = Wrapper("transientRetries=2");
                Check.True(!w.Connect(server.Url, Key, ""), "gives up on a server that stays unavailable");
                Check.Equal(3, server.Requests, "one attempt and two retries");
                Check.True(w.GetLastErrorString().Contains("503"), "says so: " + w.GetLastErrorString());
            }
        }

        private static void OtherFailuresAreFinal()
        {
            using (var server = new ScriptedServer(new int[0], 403))
            {
                var w = Wrapper("");
                Check.True(!w.Connect(server.Url, Key, ""), "a forbidden answer fails");
                Check.Equal(1, server.Requests, "not retried");
                Check.True(w.GetLastErrorString().Contains("403 Status403: scripted answer"), "status, code and message: " + w.GetLastErrorString());
                Check.True(!w.GetLastErrorString().Contains(Key), "no key in the text");
            }
        }
    }
}
