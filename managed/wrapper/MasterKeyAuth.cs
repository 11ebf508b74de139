// Master-key authorisation of one request, as the service defines it: an HMAC-SHA256, keyed
// with the base64-decoded account key, over
//   lower(verb) \n lower(resourceType) \n resourceLink \n lower(x-ms-date) \n \n
// sent URL-encoded as "type=master&ver=1.0&sig=<base64>".
using System;
using System.Security.Cryptography;
using System.Text;

namespace CloudSDKWrapper
{
    internal sealed class MasterKeyAuth : IDisposable
    {
        // The only copy of the key: decoded bytes, never turned back into text.
        private readonly byte[] m_key;

        public MasterKeyAuth(string keyBase64)
        {
            try
            {
                m_key = Convert.FromBase64String(keyBase64 ?? "");
            }
            catch (FormatException)
            {
                // The message must not echo the key.
                throw new ArgumentException("The account key is not valid base64.");
            }
            if (m_key.Length == 0) throw new ArgumentException("The account key is empty.");
        }

        public string Authorization(string verb, string resourceType, string resourceLink, string date)
        {
            string text = verb.ToLowerInvariant() + "\n" + resourceType.ToLowerInvariant() + "\n" + resourceLink + "\n" +
                          date.ToLowerInvariant() + "\n" + "\n";
            string signature;
            using (var hmac = new HMACSHA256(m_key))
            {
                signature = Convert.ToBase64String(hmac.ComputeHash(Encoding.UTF8.GetBytes(text)));
            }
            return Uri.EscapeDataString("type=master&ver=1.0&sig=" + signature);
        }

        public static string RequestDate(DateTime utcNow)
        {
            return utcNow.ToString("r", System.Globalization.CultureInfo.InvariantCulture);
        }

        public void Dispose()
        {
            Array.Clear(m_key, 0, m_key.Length);
        }
    }
}
