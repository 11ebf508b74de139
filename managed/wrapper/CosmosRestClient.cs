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

        private readonly Uri m_endpoint;
        private readonly MasterKeyAuth m_auth;
        private readonly HttpClient m_http;
        private readonly RetryPolicy m_retry;
        private readonly Action<string> m_trace;
        private readonly string m_userAgent;

        public Uri Endpoint { get { return m_endpoint; } }

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
        public async Task<RestResponse> SendAsync(RestRequest request)
        {
            int throttled = 0, transient = 0, waitedMs = 0;
            while (true)
            {
                RestResponse response;
                try
                {
                    response = await SendOnceAsync(request).ConfigureAwait(false);
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
                if (response.Status == 429)
                {
                    int wait = m_retry.ThrottleWait(++throttled, response.Header("x-ms-retry-after-ms"), ref waitedMs);
                    if (wait < 0) return response;
                    m_trace("throttled on " + request.What + ", waiting " + wait + " ms");
                    await Task.Delay(wait).ConfigureAwait(false);
                    continue;
                }
                if (RetryPolicy.IsTransient(response.Status))
                {
                    int wait = m_retry.TransientWait(++transient);
                    if (wait < 0) return response;
                    m_trace("retrying " + request.What + " after status " + response.Status);
                    await Task.Delay(wait).ConfigureAwait(false);
                    continue;
                }
                return response;
            }
        }

        private async Task<RestResponse> SendOnceAsync(RestRequest request)
        {
            using (var message = BuildMessage(request))
            using (var answer = await m_http.SendAsync(message, HttpCompletionOption.ResponseContentRead).ConfigureAwait(false))
            {
                var response = new RestResponse { Status = (int)answer.StatusCode };
                foreach (var h in answer.Headers) response.Headers[h.Key] = string.Join(",", h.Value);
                if (answer.Content != null)
                {
                    foreach (var h in answer.Content.Headers) response.Headers[h.Key] = string.Join(",", h.Value);
                    response.Body = await answer.Content.ReadAsStringAsync().ConfigureAwait(false);
                }
                return response;
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
            var parts = new System.Collections.Generic.List<string>();
            for (var inner = e; inner != null; inner = inner.InnerException)
            {
                if (!parts.Contains(inner.Message)) parts.Add(inner.Message);
            }
            return string.Join(": ", parts);
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
