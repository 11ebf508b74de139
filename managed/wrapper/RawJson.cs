// Finds the parts of a JSON text without converting them: where a value ends, the members of
// an object, the elements of an array. Items pass through the wrapper as the service wrote
// them because the runtime's double parser is inexact (Mono's double.Parse turns
// "0.5418205580208451" into the double of "0.541820558020845"), so a parse-and-print cycle
// would change numbers. The texts come from the service, which only sends well-formed JSON;
// anything else is reported, not repaired.
using System.Collections.Generic;

namespace CloudSDKWrapper
{
    internal struct RawMember
    {
        public int NameStart, NameEnd;   // the quoted name, quotes included
        public int ValueStart, ValueEnd; // the value, ValueEnd exclusive
    }

    internal static class RawJson
    {
        public static int SkipSpace(string s, int i)
        {
            while (i < s.Length && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) i++;
            return i;
        }

        // The index just past the value that starts at `i`.
        public static int EndOfValue(string s, int i)
        {
            if (i >= s.Length) throw Malformed(i);
            char c = s[i];
            if (c == '"') return EndOfString(s, i);
            if (c == '{' || c == '[') return EndOfContainer(s, i);
            int j = i;
            while (j < s.Length && s[j] != ',' && s[j] != '}' && s[j] != ']' && s[j] != ' ' && s[j] != '\t' && s[j] != '\n' && s[j] != '\r') j++;
            if (j == i) throw Malformed(i);
            return j;
        }

        private static int EndOfString(string s, int i)
        {
            for (int j = i + 1; j < s.Length; j++)
            {
                if (s[j] == '\\') j++;
                else if (s[j] == '"') return j + 1;
            }
            throw Malformed(i);
        }

        private static int EndOfContainer(string s, int i)
        {
            int depth = 0;
            for (int j = i; j < s.Length; j++)
            {
                char c = s[j];
                if (c == '"') j = EndOfString(s, j) - 1;
                else if (c == '{' || c == '[') depth++;
                else if ((c == '}' || c == ']') && --depth == 0) return j + 1;
            }
            throw Malformed(i);
        }

        public static List<RawMember> Members(string s, int objectStart)
        {
            if (objectStart >= s.Length || s[objectStart] != '{') throw new CosmosException(0, "An item is not a JSON object.");
            var members = new List<RawMember>();
            int i = SkipSpace(s, objectStart + 1);
            if (i < s.Length && s[i] == '}') return members;
            while (true)
            {
                var m = new RawMember { NameStart = i };
                if (i >= s.Length || s[i] != '"') throw Malformed(i);
                m.NameEnd = EndOfString(s, i);
                i = SkipSpace(s, m.NameEnd);
                if (i >= s.Length || s[i] != ':') throw Malformed(i);
                m.ValueStart = SkipSpace(s, i + 1);
                m.ValueEnd = EndOfValue(s, m.ValueStart);
                members.Add(m);
                i = SkipSpace(s, m.ValueEnd);
                if (i < s.Length && s[i] == ',') i = SkipSpace(s, i + 1);
                else if (i < s.Length && s[i] == '}') return members;
                else throw Malformed(i);
            }
        }

        // (start, end) of each element of the array that starts at `arrayStart`.
        public static List<KeyValuePair<int, int>> Elements(string s, int arrayStart)
        {
            if (arrayStart >= s.Length || s[arrayStart] != '[') throw Malformed(arrayStart);
            var elements = new List<KeyValuePair<int, int>>();
            int i = SkipSpace(s, arrayStart + 1);
            if (i < s.Length && s[i] == ']') return elements;
            while (true)
            {
                int end = EndOfValue(s, i);
                elements.Add(new KeyValuePair<int, int>(i, end));
                i = SkipSpace(s, end);
                if (i < s.Length && s[i] == ',') i = SkipSpace(s, i + 1);
                else if (i < s.Length && s[i] == ']') return elements;
                else throw Malformed(i);
            }
        }

        public static string Name(string s, RawMember m)
        {
            string quoted = s.Substring(m.NameStart, m.NameEnd - m.NameStart);
            return quoted.IndexOf('\\') < 0 ? quoted.Substring(1, quoted.Length - 2) : (string)Json.Parse(quoted);
        }

        // The raw value of member `name` of the object at `objectStart`, or null.
        public static string Member(string s, int objectStart, string name, out int valueStart)
        {
            foreach (var m in Members(s, objectStart))
            {
                if (Name(s, m) == name)
                {
                    valueStart = m.ValueStart;
                    return s.Substring(m.ValueStart, m.ValueEnd - m.ValueStart);
                }
            }
            valueStart = -1;
            return null;
        }

        private static CosmosException Malformed(int at)
        {
            return new CosmosException(0, "Malformed JSON at offset " + at + ".");
        }
    }
}
