// Settings of one connection, parsed from the "name=value;name=value" texts that Initialize
// and Connect take. Unknown names are an error, so that a misspelt option is not ignored.
using System;
using System.Collections.Generic;
using System.Net;

namespace CloudSDKWrapper
{
    internal sealed class ConnectionSettings
    {
        public string UserAgent = "ZRCloudSDKWrapper/1.0";
        public int RequestTimeoutMs = 60000;
        public bool VerifyTls = true;
        public bool RestoreBatches = true;
        public IWebProxy Proxy;
        // RU/s for the whole process (RuBudget.Shared), set at Connect; null leaves it as it is.
        public int? MaxRuPerSecond;
        // A restore goes on past items the service refuses and lists them (GetCosmosDBTokens(-2))
        // instead of stopping at the first.
        public bool ReportItemFailures;
        public RetryPolicy Retry = new RetryPolicy();

        public static Dictionary<string, string> ParseOptions(string text)
        {
            var options = new Dictionary<string, string>(StringComparer.OrdinalIgnoreCase);
            foreach (var part in (text ?? "").Split(';'))
            {
                string item = part.Trim();
                if (item.Length == 0) continue;
                int eq = item.IndexOf('=');
                if (eq <= 0) throw new ArgumentException("Option [" + item + "] is not of the form name=value.");
                options[item.Substring(0, eq).Trim()] = item.Substring(eq + 1).Trim();
            }
            return options;
        }

        // Applies options of Initialize (client behaviour) or Connect (transport); each kind
        // accepts its own names.
        public void Apply(Dictionary<string, string> options, bool transport)
        {
            foreach (var option in options)
            {
                string name = option.Key.ToLowerInvariant();
                string value = option.Value;
                if (transport && name == "verifytls") VerifyTls = ParseBool(name, value);
                else if (!transport && name == "restorebatches") RestoreBatches = ParseBool(name, value);
                else if (!transport && name == "maxretries") Retry.MaxThrottleRetries = ParseInt(name, value, 0, 1000000);
                else if (!transport && name == "maxretrywaitms") Retry.MaxThrottleWaitMs = ParseInt(name, value, 0, 86400000);
                else if (!transport && name == "maxru") MaxRuPerSecond = ParseInt(name, value, 0, 100000000);
                else if (!transport && name == "itemfailures") ReportItemFailures = ParseChoice(name, value, "stop", "report");
                else if (!transport && name == "completingwaitms") Retry.MaxCompletingWaitMs = ParseInt(name, value, 0, 3600000);
                else if (!transport && name == "transientretries") Retry.MaxTransientRetries = ParseInt(name, value, 0, 20);
                else throw new ArgumentException("Unknown option [" + option.Key + "].");
            }
        }

        private static bool ParseBool(string name, string value)
        {
            switch (value.ToLowerInvariant())
            {
                case "1": case "true": case "on": case "yes": return true;
                case "0": case "false": case "off": case "no": return false;
            }
            throw new ArgumentException("Option [" + name + "] takes true or false, not [" + value + "].");
        }

        // False for `first`, true for `second`.
        private static bool ParseChoice(string name, string value, string first, string second)
        {
            if (string.Equals(value, first, StringComparison.OrdinalIgnoreCase)) return false;
            if (string.Equals(value, second, StringComparison.OrdinalIgnoreCase)) return true;
            throw new ArgumentException("Option [" + name + "] takes " + first + " or " + second + ", not [" + value + "].");
        }

        private static int ParseInt(string name, string value, int min, int max)
        {
            int n;
            if (!int.TryParse(value, out n) || n < min || n > max)
                throw new ArgumentException("Option [" + name + "] takes a number from " + min + " to " + max + ".");
            return n;
        }
    }
}
