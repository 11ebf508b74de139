// The HTTP side of the wrapper: signs every request with the master key, sends it, and
// retries throttled and transient failures under RetryPolicy. One instance per connection;
// safe to use from several threads at once (HttpClient is).
using System;
using System.Net;
using System.Net.Http;
using System.Net.Http.Headers;
using System.Threading.Tasks;

namespace CloudSDKWrapper
{
    internal sealed class CosmosRestClient : IDisposable
    {
        // The oldest version that takes hierarchical partition keys ("MultiHash"); the service
        // refuses them under 2018-12-31.
        public const string ApiVersion = "2020-07-15";
        // The capabilities this client declares (a decimal bitmask): bit 0 = it handles merged
        // partition key ranges, which accounts with merge enabled require of every client.
        public const string SupportedCapabilities = "1";

        private readonly Uri m_endpoint;
        private readonly MasterKeyAuth m_auth;
        private readonly HttpClient m_http;
        private readonly RetryPolicy m_retry;
        private readonly Action<string> m_trace;
        private readonly string m_userAgent;
        private readonly RequestUsage m_usage = new RequestUsage();
        private readonly SessionTokens m_sessions = new SessionTokens();

        public Uri Endpoint { get { return m_endpoint; } }
        public RequestUsage Usage { get { return m_usage; } }
        public SessionTokens Sessions { get { return m_sessions; } }

        public CosmosRestClient(Uri endpoint, MasterKeyAuth auth, ConnectionSettings settings, Action<string> trace)
        {
            m_endpoint = endpoint;
            m_auth = auth;
            m_retry = settings.Retry;
            m_trace = trace ?? (s => { });
            m_userAgent = settings.UserAgent;
            m_http = new HttpClient(MakeHandler(settings), true) { Timeout = TimeSpan.FromMilliseconds(settings.RequestTimeoutMs) };
        }

        private static HttpClientHandler MakeHandler(ConnectionSettings settings)
        {
            var handler = new HttpClientHandler
            {
                AllowAutoRedirect = false,
                UseCookies = false,
                AutomaticDecompression = DecompressionMethods.None,
            };
            if (!settings.VerifyTls)
            {
                // Only for a local test server with a self-signed certificate; in Debian's Mono
                // this callback is the one that HttpClient honours.
                handler.ServerCertificateCustomValidationCallback = (message, cert, chain, errors) => true;
            }
            if (settings.Proxy != null)
            {
                handler.Proxy = settings.Proxy;
                handler.UseProxy = true;
            }
            return handler;
        }

        public RestResponse Send(RestRequest request)
        {
            return SendAsync(request).GetAwaiter().GetResult();
        }

        // Sends until success, a final failure or the retry budget is spent; returns the last
        // answer (which may be a failure status) or throws CosmosException when none came.
        // Every attempt draws on the process's RU budget and is counted in Usage.
        public async Task<RestResponse> SendAsync(RestRequest request)
        {
            int throttled = 0, transient = 0, waitedMs = 0, completing = 0, completingWaitedMs = 0;
            string container = request.ResourceType == "docs" ? SessionTokens.ContainerLink(request.ResourceLink) : null;
            while (true)
            {
                RestResponse response;
                try
                {
                    response = await SendCountedAsync(request, container).ConfigureAwait(false);
                }
                catch (Exception e) when (IsTransientFailure(e))
                {
                    int wait = m_retry.TransientWait(++transient);
                    if (wait < 0) throw new CosmosException(0, Describe(request) + " failed: " + FailureText(e) + " (gave up after " + transient + " attempts)");
                    m_trace("retrying " + request.What + " after " + FailureText(e));
                    await Task.Delay(wait).ConfigureAwait(false);
                    continue;
                }
                catch (Exception e)
                {
                    throw new CosmosException(0, Describe(request) + " failed: " + FailureText(e));
                }
                string retryAfter;
                if (IsThrottled(request, response, out retryAfter))
                {
                    if (request.ThrottledAttempts > 0 && throttled + 1 >= request.ThrottledAttempts) return response;
                    int wait = m_retry.ThrottleWait(++throttled, retryAfter, ref waitedMs);
                    if (wait < 0) return response;
                    m_usage.Waited(wait);
                    m_trace("throttled on " + request.What + ", waiting " + wait + " ms");
                    await Task.Delay(wait).ConfigureAwait(false);
                    continue;
                }
                int substatus = SubStatus.Of(response);
                if (SubStatus.IsCompleting(response.Status, substatus))
                {
                    int wait = m_retry.CompletingWait(++completing, ref completingWaitedMs);
                    if (wait < 0) return response;
                    m_trace(request.What + " answered 410/" + substatus + " (still completing), asking again in " + wait + " ms");
                    await Task.Delay(wait).ConfigureAwait(false);
                    continue;
                }
                if (RetryPolicy.IsTransient(response.Status) || RetryPolicy.IsRetriedElsewhere(request, response.Status, substatus))
                {
                    int wait = m_retry.TransientWait(++transient);
                    if (wait < 0) return response;
                    m_trace("retrying " + request.What + " after status " + response.Status + (substatus != 0 ? "/" + substatus : ""));
                    await Task.Delay(wait).ConfigureAwait(false);
                    continue;
                }
                return response;
            }
        }

        // One attempt: waits for the RU budget, sends (with the session token of the range a read
        // addresses), then books the charge and keeps the session token of the answer.
        private async Task<RestResponse> SendCountedAsync(RestRequest request, string container)
        {
            var budget = RuBudget.Shared;
            string kind = request.ChargeKind;
            double reserved = await budget.AcquireAsync(kind, request.Operations).ConfigureAwait(false);
            RestResponse response;
            try
            {
                string session = container != null && !request.Headers.ContainsKey("x-ms-session-token") ? SessionFor(request, container) : null;
                response = await SendOnceAsync(request, session).ConfigureAwait(false);
            }
            catch (Exception)
            {
                budget.Settle(reserved, 0, kind, request.Operations, false);
                throw;
            }
            double charge = Charge(response.Header("x-ms-request-charge"));
            budget.Settle(reserved, charge, kind, request.Operations, true);
            string retryAfter;
            bool throttled = IsThrottled(request, response, out retryAfter);
            if (throttled) budget.OnThrottled();
            m_usage.Answered(charge, throttled);
            if (container != null) m_sessions.Merge(container, response.Header("x-ms-session-token"));
            return response;
        }

        // Reads send the token of the one range they address (writes need none to be accepted);
        // a read that names no range sends none rather than every range's.
        private string SessionFor(RestRequest request, string container)
        {
            bool read = request.Method == "GET" || (request.Method == "POST" && request.Headers.ContainsKey("x-ms-documentdb-isquery"));
            string range;
            if (!read || !request.Headers.TryGetValue("x-ms-documentdb-partitionkeyrangeid", out range)) return null;
            return m_sessions.ForRange(container, range);
        }

        private static double Charge(string header)
        {
            double charge;
            return double.TryParse(header, System.Globalization.NumberStyles.Float, System.Globalization.CultureInfo.InvariantCulture, out charge) && charge > 0 ? charge : 0;
        }

        // A 429, or a transactional batch that answers 207 because an operation was throttled
        // (the batch wrote nothing then, so it is sent again whole).
        private static bool IsThrottled(RestRequest request, RestResponse response, out string retryAfterMs)
        {
            retryAfterMs = response.Header("x-ms-retry-after-ms");
            if (response.Status == 429) return true;
            if (response.Status != 207 || !request.Headers.ContainsKey("x-ms-cosmos-is-batch-request")) return false;
            return BatchResult.Throttled(response.BodyBytes, ref retryAfterMs);
        }

        private async Task<RestResponse> SendOnceAsync(RestRequest request, string session)
        {
            using (var message = BuildMessage(request))
            {
                if (session != null) message.Headers.TryAddWithoutValidation("x-ms-session-token", session);
                using (var answer = await m_http.SendAsync(message, HttpCompletionOption.ResponseContentRead).ConfigureAwait(false))
                {
                    var response = new RestResponse { Status = (int)answer.StatusCode };
                    foreach (var h in answer.Headers) response.Headers[h.Key] = string.Join(",", h.Value);
                    if (answer.Content != null)
                    {
                        foreach (var h in answer.Content.Headers) response.Headers[h.Key] = string.Join(",", h.Value);
                        response.BodyBytes = await answer.Content.ReadAsByteArrayAsync().ConfigureAwait(false);
                    }
                    return response;
                }
            }
        }

        private HttpRequestMessage BuildMessage(RestRequest request)
        {
            var message = new HttpRequestMessage(new HttpMethod(request.Method), new Uri(m_endpoint, request.Path));
            string date = MasterKeyAuth.RequestDate(DateTime.UtcNow);
            var headers = message.Headers;
            // The date is signed exactly as sent, so it is added without reformatting.
            headers.TryAddWithoutValidation("x-ms-date", date);
            headers.TryAddWithoutValidation("x-ms-version", ApiVersion);
            headers.TryAddWithoutValidation("x-ms-cosmos-sdk-supportedcapabilities", SupportedCapabilities);
            headers.TryAddWithoutValidation("authorization", m_auth.Authorization(request.Method, request.ResourceType, request.ResourceLink, date));
            headers.TryAddWithoutValidation("User-Agent", m_userAgent);
            headers.TryAddWithoutValidation("Accept", "application/json");
            foreach (var h in request.Headers) headers.TryAddWithoutValidation(h.Key, h.Value);
            if (request.Body != null)
            {
                message.Content = new ByteArrayContent(request.Body);
                message.Content.Headers.ContentType = new MediaTypeHeaderValue(request.ContentType);
            }
            return message;
        }

        // Timeouts and broken connections may pass; a refused connection, an unknown host or
        // a failed certificate check will not, so those fail the call at once.
        private static bool IsTransientFailure(Exception e)
        {
            if (e is TaskCanceledException) return true;
            if (FindInner<System.Security.Authentication.AuthenticationException>(e) != null) return false;
            for (var inner = e; inner != null; inner = inner.InnerException)
            {
                var web = inner as WebException;
                if (web == null) continue;
                switch (web.Status)
                {
                    case WebExceptionStatus.ConnectFailure:
                    case WebExceptionStatus.NameResolutionFailure:
                    case WebExceptionStatus.TrustFailure:
                    case WebExceptionStatus.SecureChannelFailure:
                    case WebExceptionStatus.ProxyNameResolutionFailure:
                        return false;
                    default:
                        return true;
                }
            }
            var socket = FindInner<System.Net.Sockets.SocketException>(e);
            if (socket != null)
            {
                return socket.SocketErrorCode != System.Net.Sockets.SocketError.ConnectionRefused &&
                       socket.SocketErrorCode != System.Net.Sockets.SocketError.HostNotFound;
            }
            return e is HttpRequestException || e is System.IO.IOException;
        }

        private static T FindInner<T>(Exception e) where T : Exception
        {
            for (var inner = e; inner != null; inner = inner.InnerException)
            {
                var found = inner as T;
                if (found != null) return found;
            }
            return null;
        }

        private static string FailureText(Exception e)
        {
            if (e is TaskCanceledException) return "the request timed out";
            if (FindInner<System.Security.Authentication.AuthenticationException>(e) != null) return TlsFailureText(e);
            var parts = new System.Collections.Generic.List<string>();
            for (var inner = e; inner != null; inner = inner.InnerException)
            {
                if (!parts.Contains(inner.Message)) parts.Add(inner.Message);
            }
            return string.Join(": ", parts);
        }

        // The TLS library's own text names a source file and line; people need the reason in a
        // sentence, with the library's code for searching.
        private static string TlsFailureText(Exception e)
        {
            string code = null;
            for (var inner = e; inner != null && code == null; inner = inner.InnerException)
            {
                var m = System.Text.RegularExpressions.Regex.Match(inner.Message, @"OPENSSL_internal:([A-Z0-9_]+)");
                if (m.Success) code = m.Groups[1].Value;
            }
            if (code == "CERTIFICATE_VERIFY_FAILED")
                return "the server's certificate is not trusted (CERTIFICATE_VERIFY_FAILED): check the endpoint's name, or add its " +
                       "certificate authority to this machine's trusted certificates";
            return "the secure connection could not be set up (" + (code ?? "TLS handshake failed") + ")";
        }

        private string Describe(RestRequest request)
        {
            return (request.What.Length > 0 ? request.What : request.Method + " " + request.Path) + " at " + m_endpoint.GetLeftPart(UriPartial.Authority);
        }

        public void Dispose()
        {
            // The key belongs to the wrapper, which may rebuild the client around it.
            m_http.Dispose();
        }
    }
}
