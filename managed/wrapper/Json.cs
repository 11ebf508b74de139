// JSON settings used throughout. Dates stay texts and numbers keep their value: an item read
// for backup must come out the way it went in.
using System.Globalization;
using System.IO;
using Newtonsoft.Json;
using Newtonsoft.Json.Linq;

namespace CloudSDKWrapper
{
    internal static class Json
    {
        public static JsonTextReader Reader(string text)
        {
            return new JsonTextReader(new StringReader(text))
            {
                DateParseHandling = DateParseHandling.None,
                FloatParseHandling = FloatParseHandling.Double,
                Culture = CultureInfo.InvariantCulture,
            };
        }

        public static JToken Parse(string text)
        {
            using (var reader = Reader(text))
            {
                var token = JToken.ReadFrom(reader);
                if (reader.Read()) throw new JsonReaderException("Unexpected text after the JSON value.");
                return token;
            }
        }

        public static JObject ParseObject(string text, string what)
        {
            JToken token;
            try
            {
                token = Parse(text);
            }
            catch (JsonException e)
            {
                throw new CosmosException(0, what + " is not valid JSON: " + e.Message);
            }
            var obj = token as JObject;
            if (obj == null) throw new CosmosException(0, what + " is not a JSON object.");
            return obj;
        }

        // For the wrapper's own small documents (definitions, policies, scripts). Items are
        // never printed from a tree: see RawJson.
        public static string Compact(JToken token)
        {
            return token.ToString(Formatting.None);
        }

        // Header values must be ASCII: the service wants non-ASCII escaped as \uXXXX.
        public static string CompactAscii(JToken token)
        {
            using (var text = new StringWriter(CultureInfo.InvariantCulture))
            using (var writer = new JsonTextWriter(text) { StringEscapeHandling = StringEscapeHandling.EscapeNonAscii, Formatting = Formatting.None })
            {
                token.WriteTo(writer);
                writer.Flush();
                return text.ToString();
            }
        }

        public static string Quote(string text)
        {
            return JsonConvert.ToString(text);
        }
    }
}
