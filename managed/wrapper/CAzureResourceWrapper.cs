// The wrapper object that the native bridge creates: one per bridge object. This file holds
// its state, the failure handling shared by all methods, setup and connection, and account
// and catalogue browsing; container reads and restore are in the two partial files beside it.
//
// Every method reports failure by its result (false, null, nothing) and keeps the reason for
// GetLastErrorString; none lets an exception escape, since the bridge would only log the
// exception's class name. The account key is held only as decoded bytes inside MasterKeyAuth
// and never reaches a text.
using System;
using System.Collections.Generic;
using System.Linq;
using System.Net;
using System.Reflection;
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    public partial class CAzureResourceWrapper : CCloudWrapper
    {
        private readonly object m_lock = new object();
        private ConnectionSettings m_settings = new ConnectionSettings();
        private CosmosService m_service;
        private MasterKeyAuth m_auth;
        private Uri m_endpoint;
        private ConnectionSettings m_connected;
        private JObject m_account;
        private string m_lastError = "";
        private Action<string> m_trace = s => { };
        // The assembly resolver is one per process, and so is its switch.
        private static volatile bool s_resolverDisabled;

        // Process-wide settings, made once however many bridge objects there are.
        static CAzureResourceWrapper()
        {
            // The runtime's default of two connections per server would serialise a restore.
            ServicePointManager.DefaultConnectionLimit = Math.Max(ServicePointManager.DefaultConnectionLimit, MaxRestoreParallelism);
            ServicePointManager.Expect100Continue = false;
            // Requests complete on pool threads; the pool's default minimum (one per core) grows
            // slowly and would cap the writes in flight well below the restore's bound.
            int workers, ports;
            System.Threading.ThreadPool.GetMinThreads(out workers, out ports);
            System.Threading.ThreadPool.SetMinThreads(Math.Max(workers, MaxRestoreParallelism), Math.Max(ports, MaxRestoreParallelism));
            AppDomain.CurrentDomain.AssemblyResolve += ResolveBesideUs;
        }

        // ---- failure handling shared by every method ----

        private void Fail(string message)
        {
            lock (m_lock) m_lastError = message ?? "";
            m_trace("error: " + message);
        }

        private bool Run(Func<bool> body)
        {
            try
            {
                return body();
            }
            catch (Exception e)
            {
                Fail(Explain(e));
                return false;
            }
        }

        private object RunList(Func<object> body)
        {
            try
            {
                return body();
            }
            catch (Exception e)
            {
                Fail(Explain(e));
                return null;
            }
        }

        private void RunVoid(Action body)
        {
            try
            {
                body();
            }
            catch (Exception e)
            {
                Fail(Explain(e));
            }
        }

        // Our own exceptions carry complete texts; anything else is named by its type as well.
        private static string Explain(Exception e)
        {
            if (e is CosmosException || e is ArgumentException) return e.Message;
            var agg = e as AggregateException;
            if (agg != null && agg.InnerExceptions.Count == 1) return Explain(agg.InnerExceptions[0]);
            return e.GetType().Name + ": " + e.Message;
        }

        private CosmosService Service()
        {
            lock (m_lock)
            {
                if (m_service == null) throw new CosmosException(0, "Not connected: call Connect first.");
                return m_service;
            }
        }

        private void CheckAccount(string account)
        {
            Service();
            string id = (string)m_account["id"] ?? "";
            if (!string.IsNullOrEmpty(account) && !string.Equals(account, id, StringComparison.OrdinalIgnoreCase))
                throw new CosmosException(0, "Account [" + account + "] is not the connected account [" + id + "].");
        }

        // ---- setup and connection ----

        // strIn1: application name for the User-Agent; strIn2: options; ullIn: request timeout
        // in milliseconds (0: 60000). Takes effect at the next Connect.
        public override bool Initialize(string strIn1, string strIn2, ulong ullIn)
        {
            return Run(() =>
            {
                var settings = new ConnectionSettings();
                settings.Apply(ConnectionSettings.ParseOptions(strIn2), false);
                if (!string.IsNullOrEmpty(strIn1)) settings.UserAgent += " " + strIn1;
                if (ullIn > 0) settings.RequestTimeoutMs = (int)Math.Min(ullIn, 600000UL);
                settings.Proxy = m_settings.Proxy;
                lock (m_lock) m_settings = settings;
                return true;
            });
        }

        // strIn1: account endpoint URL; strIn2: account key (base64); strIn3: options
        // ("verifyTls=false" for a local test server only). Reads the account to prove both.
        public override bool Connect(string strIn1, string strIn2, string strIn3)
        {
            return Run(() =>
            {
                Uri endpoint;
                if (!Uri.TryCreate(strIn1 ?? "", UriKind.Absolute, out endpoint) || (endpoint.Scheme != "https" && endpoint.Scheme != "http"))
                    throw new CosmosException(0, "Endpoint [" + strIn1 + "] is not an http or https URL.");
                endpoint = new Uri(endpoint.GetLeftPart(UriPartial.Path).TrimEnd('/') + "/");
                ConnectionSettings settings;
                lock (m_lock) settings = m_settings;
                var connected = Copy(settings);
                connected.Apply(ConnectionSettings.ParseOptions(strIn3), true);
                var auth = new MasterKeyAuth(strIn2);
                var service = new CosmosService(new CosmosRestClient(endpoint, auth, connected, m_trace));
                JObject account;
                try
                {
                    account = service.ReadAccount();
                }
                catch (Exception)
                {
                    service.Dispose();
                    auth.Dispose();
                    throw;
                }
                Disconnect();
                if (connected.MaxRuPerSecond.HasValue) RuBudget.Shared.Configure(connected.MaxRuPerSecond.Value);
                lock (m_lock)
                {
                    m_service = service;
                    m_auth = auth;
                    m_endpoint = endpoint;
                    m_connected = connected;
                    m_account = account;
                }
                return true;
            });
        }

        private static ConnectionSettings Copy(ConnectionSettings s)
        {
            return new ConnectionSettings
            {
                UserAgent = s.UserAgent, RequestTimeoutMs = s.RequestTimeoutMs, VerifyTls = s.VerifyTls,
                RestoreBatches = s.RestoreBatches, Proxy = s.Proxy,
                MaxRuPerSecond = s.MaxRuPerSecond, ReportItemFailures = s.ReportItemFailures,
                Retry = new RetryPolicy
                {
                    MaxThrottleRetries = s.Retry.MaxThrottleRetries, MaxThrottleWaitMs = s.Retry.MaxThrottleWaitMs,
                    MaxTransientRetries = s.Retry.MaxTransientRetries, BaseBackoffMs = s.Retry.BaseBackoffMs,
                },
            };
        }

        // strIn1: proxy URL ("" for none); strIn2, strIn3: user and password ("" for none).
        // A live connection is rebuilt to go through the new proxy. A URL that cannot be used
        // is a failure (GetLastErrorString), not silently ignored; the URL is not echoed, as
        // it may carry credentials.
        public override void SetWebProxy(string strIn1, string strIn2, string strIn3)
        {
            RunVoid(() =>
            {
                IWebProxy proxy = null;
                if (!string.IsNullOrEmpty(strIn1))
                {
                    Uri address;
                    if (!Uri.TryCreate(strIn1, UriKind.Absolute, out address) || (address.Scheme != "http" && address.Scheme != "https") || address.Host.Length == 0)
                        throw new CosmosException(0, "The proxy is not an absolute http or https URL; the proxy is unchanged.");
                    var web = new WebProxy(address);
                    if (!string.IsNullOrEmpty(strIn2)) web.Credentials = new NetworkCredential(strIn2, strIn3 ?? "");
                    proxy = web;
                }
                lock (m_lock)
                {
                    m_settings.Proxy = proxy;
                    if (m_service == null) return;
                    m_connected.Proxy = proxy;
                    var old = m_service;
                    m_service = new CosmosService(new CosmosRestClient(m_endpoint, m_auth, m_connected, m_trace));
                    old.Dispose();
                }
            });
        }

        // Retries, throttling waits and failures are written to standard output from now on.
        public override void UseStdout()
        {
            m_trace = s => Console.Out.WriteLine("[CloudSDKWrapper] " + s);
        }

        public override void Disconnect()
        {
            lock (m_lock)
            {
                m_restore = null;
                m_open = null;
                SetRanges(new List<FeedRange>(), true);
                if (m_service != null) m_service.Dispose();
                if (m_auth != null) m_auth.Dispose();
                m_service = null;
                m_auth = null;
                m_account = null;
            }
        }

        public override bool CheckConnection()
        {
            return Run(() =>
            {
                var account = Service().ReadAccount();
                lock (m_lock) m_account = account;
                return true;
            });
        }

        public override string GetLastErrorString()
        {
            lock (m_lock) return m_lastError;
        }

        // When not disabled, assemblies this one depends on are also looked for beside it.
        // The switch is process-wide: the resolver serves every wrapper object.
        public override void setAssemblyResolverDisabled(bool bDisabled) { s_resolverDisabled = bDisabled; }
        public override bool getAssemblyResolverDisabled() { return s_resolverDisabled; }

        private static Assembly ResolveBesideUs(object sender, ResolveEventArgs args)
        {
            if (s_resolverDisabled) return null;
            string dir = System.IO.Path.GetDirectoryName(typeof(CAzureResourceWrapper).Assembly.Location);
            string file = System.IO.Path.Combine(dir ?? "", new AssemblyName(args.Name).Name + ".dll");
            return System.IO.File.Exists(file) ? Assembly.LoadFrom(file) : null;
        }

        // ---- account and catalogue browsing ----

        // strIn: account name ("" for any); llBrowseType: 0 the account with its write region,
        // 1 one element per write region, 2 one per read region; nReserved: unused.
        public override object GetDatabaseAccountInfoList(string strIn, long llBrowseType, int nReserved)
        {
            return RunList(() => AccountList(strIn, llBrowseType, null));
        }

        // strIn: region name; only that region's elements (of the kind llBrowseType selects).
        public override object GetDatabaseAccountInfoListForRegion(string strIn, long llBrowseType, int nReserved)
        {
            return RunList(() => AccountList("", llBrowseType, strIn ?? ""));
        }

        private SStorageAccountInfoLibList AccountList(string account, long browseType, string region)
        {
            var list = new SStorageAccountInfoLibList();
            JObject info;
            lock (m_lock) info = m_account;
            Service();
            string id = (string)info["id"] ?? "";
            if (!string.IsNullOrEmpty(account) && !string.Equals(account, id, StringComparison.OrdinalIgnoreCase)) return list;
            var locations = ((browseType == 2 ? info["readableLocations"] : info["writableLocations"]) as JArray) ?? new JArray();
            var names = locations.Select(l => (string)l["name"] ?? "").ToList();
            if (browseType != 1 && browseType != 2) names = names.Take(1).ToList();
            foreach (var name in names)
            {
                if (region != null && !SameRegion(name, region)) continue;
                list.Add(new SStorageAccountInfoLib { strName = id, strAccountType = "SQL", strLocation = name });
            }
            return list;
        }

        private static bool SameRegion(string a, string b)
        {
            return string.Equals(a.Replace(" ", ""), b.Replace(" ", ""), StringComparison.OrdinalIgnoreCase);
        }

        // strIn: account name ("" for the connected one); strOut1: the endpoint; strOut2: the
        // authorisation scheme in use. The key itself is never handed out.
        public override bool GetCosmosDBAuthenticationInfo(string strIn, ref string strOut1, ref string strOut2)
        {
            string endpoint = null;
            bool ok = Run(() =>
            {
                CheckAccount(strIn);
                endpoint = Service().Endpoint.ToString();
                return true;
            });
            if (ok)
            {
                strOut1 = endpoint;
                strOut2 = "master-key";
            }
            return ok;
        }

        // strIn1: account ("" for the connected one); strIn2: name prefix ("" for all);
        // bOption: sort by name.
        public override object ListCosmosDBDatabases(string strIn1, string strIn2, bool bOption)
        {
            return RunList(() =>
            {
                CheckAccount(strIn1);
                return Names(Service().ListDatabases(), strIn2, bOption);
            });
        }

        // strIn1: account; strIn2: database; strIn3: name prefix; bOption: sort by name.
        public override object ListCosmosDBContainers(string strIn1, string strIn2, string strIn3, bool bOption)
        {
            return RunList(() =>
            {
                CheckAccount(strIn1);
                if (Service().ReadDatabase(strIn2) == null) throw new CosmosException(404, "Database [" + strIn2 + "] does not exist.");
                return Names(Service().ListContainers(strIn2), strIn3, bOption);
            });
        }

        private static SStringLibList Names(IEnumerable<JObject> resources, string prefix, bool sort)
        {
            var names = resources.Select(r => (string)r["id"]).Where(n => n != null && n.StartsWith(prefix ?? "", StringComparison.Ordinal));
            if (sort) names = names.OrderBy(n => n, StringComparer.Ordinal);
            return SStringLibList.Of(names);
        }
    }
}
