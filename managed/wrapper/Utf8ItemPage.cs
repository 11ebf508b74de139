// One page of a document feed split straight from the answer's UTF-8 bytes into the items'
// own texts, in one pass and without a string: the same output, byte for byte, as ItemPage
// gives for the decoded text (system properties dropped the same way, members joined the
// same way). JSON's structural characters are ASCII and never occur inside a multi-byte
// UTF-8 sequence, so the scan works on bytes as it would on characters.
using System.Text;

namespace CloudSDKWrapper
{
    internal static class Utf8ItemPage
    {
        private static readonly byte[][] SystemNames = Names("_rid", "_self", "_etag", "_attachments", "_ts");

        // Appends each item of the page to `page`; `length` bytes of `body` are the answer.
        public static void Split(byte[] body, int length, bool keepSystemProperties, ItemPageBytes page)
        {
            var s = new Scanner(body, length);
            int start = s.SkipSpace(s.SkipBom(0));
            int documents = s.MemberValue(start, "Documents");
            if (documents < 0 || documents >= length || body[documents] != '[') throw new CosmosException(0, "A page of items has no [Documents] list.");
            int i = s.SkipSpace(documents + 1);
            if (i < length && body[i] == ']') return;
            while (true)
            {
                int end = s.EndOfValue(i);
                if (keepSystemProperties) page.Append(body, i, end - i);
                else AppendWithout(s, i, page);
                page.EndItem();
                i = s.SkipSpace(end);
                if (i < length && body[i] == ',') i = s.SkipSpace(i + 1);
                else if (i < length && body[i] == ']') return;
                else throw Scanner.Malformed(i);
            }
        }

        // '{', the members not dropped joined by ',' (each as written, from its name to its
        // value's end), '}'.
        private static void AppendWithout(Scanner s, int objectStart, ItemPageBytes page)
        {
            byte[] b = s.Bytes;
            if (objectStart >= s.Length || b[objectStart] != '{') throw new CosmosException(0, "An item is not a JSON object.");
            page.Append((byte)'{');
            bool first = true;
            int i = s.SkipSpace(objectStart + 1);
            if (i < s.Length && b[i] == '}')
            {
                page.Append((byte)'}');
                return;
            }
            while (true)
            {
                if (i >= s.Length || b[i] != '"') throw Scanner.Malformed(i);
                int nameStart = i, nameEnd = s.EndOfString(i);
                i = s.SkipSpace(nameEnd);
                if (i >= s.Length || b[i] != ':') throw Scanner.Malformed(i);
                int valueEnd = s.EndOfValue(s.SkipSpace(i + 1));
                if (!IsSystemName(s, nameStart, nameEnd))
                {
                    if (!first) page.Append((byte)',');
                    page.Append(b, nameStart, valueEnd - nameStart);
                    first = false;
                }
                i = s.SkipSpace(valueEnd);
                if (i < s.Length && b[i] == ',') i = s.SkipSpace(i + 1);
                else if (i < s.Length && b[i] == '}') break;
                else throw Scanner.Malformed(i);
            }
            page.Append((byte)'}');
        }

        private static bool IsSystemName(Scanner s, int nameStart, int nameEnd)
        {
            byte[] b = s.Bytes;
            // Every system name begins with '_'; an escaped name is compared decoded.
            if (nameEnd - nameStart < 2) return false;
            if (b[nameStart + 1] == '\\') return IsSystemText(s.Name(nameStart, nameEnd));
            if (b[nameStart + 1] != '_') return false;
            foreach (var name in SystemNames)
            {
                if (s.NameIs(nameStart, nameEnd, name)) return true;
            }
            return s.HasEscape(nameStart, nameEnd) && IsSystemText(s.Name(nameStart, nameEnd));
        }

        private static bool IsSystemText(string name)
        {
            foreach (var n in SystemNames)
            {
                if (Encoding.UTF8.GetString(n) == name) return true;
            }
            return false;
        }

        private static byte[][] Names(params string[] names)
        {
            var bytes = new byte[names.Length][];
            for (int i = 0; i < names.Length; i++) bytes[i] = Encoding.UTF8.GetBytes(names[i]);
            return bytes;
        }

        // Where values, strings and members end in UTF-8 JSON bytes.
        internal struct Scanner
        {
            public readonly byte[] Bytes;
            public readonly int Length;

            public Scanner(byte[] bytes, int length)
            {
                Bytes = bytes;
                Length = length;
            }

            public int SkipBom(int i)
            {
                return Length >= 3 && Bytes[0] == 0xEF && Bytes[1] == 0xBB && Bytes[2] == 0xBF ? 3 : i;
            }

            public int SkipSpace(int i)
            {
                while (i < Length)
                {
                    byte c = Bytes[i];
                    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
                    i++;
                }
                return i;
            }

            public int EndOfValue(int i)
            {
                if (i >= Length) throw Malformed(i);
                byte c = Bytes[i];
                if (c == '"') return EndOfString(i);
                if (c == '{' || c == '[') return EndOfContainer(i);
                int j = i;
                while (j < Length)
                {
                    c = Bytes[j];
                    if (c == ',' || c == '}' || c == ']' || c == ' ' || c == '\t' || c == '\n' || c == '\r') break;
                    j++;
                }
                if (j == i) throw Malformed(i);
                return j;
            }

            public int EndOfString(int i)
            {
                for (int j = i + 1; j < Length; j++)
                {
                    byte c = Bytes[j];
                    if (c == '\\') j++;
                    else if (c == '"') return j + 1;
                }
                throw Malformed(i);
            }

            private int EndOfContainer(int i)
            {
                int depth = 0;
                for (int j = i; j < Length; j++)
                {
                    byte c = Bytes[j];
                    if (c == '"') j = EndOfString(j) - 1;
                    else if (c == '{' || c == '[') depth++;
                    else if ((c == '}' || c == ']') && --depth == 0) return j + 1;
                }
                throw Malformed(i);
            }

            // Where the value of the first member called `name` of the object at `objectStart`
            // begins, or -1.
            public int MemberValue(int objectStart, string name)
            {
                if (objectStart >= Length || Bytes[objectStart] != '{') throw new CosmosException(0, "An item is not a JSON object.");
                byte[] wanted = Encoding.UTF8.GetBytes(name);
                int i = SkipSpace(objectStart + 1);
                if (i < Length && Bytes[i] == '}') return -1;
                while (true)
                {
                    if (i >= Length || Bytes[i] != '"') throw Malformed(i);
                    int nameStart = i, nameEnd = EndOfString(i);
                    i = SkipSpace(nameEnd);
                    if (i >= Length || Bytes[i] != ':') throw Malformed(i);
                    int valueStart = SkipSpace(i + 1);
                    if (NameIs(nameStart, nameEnd, wanted) || (HasEscape(nameStart, nameEnd) && Name(nameStart, nameEnd) == name)) return valueStart;
                    i = SkipSpace(EndOfValue(valueStart));
                    if (i < Length && Bytes[i] == ',') i = SkipSpace(i + 1);
                    else if (i < Length && Bytes[i] == '}') return -1;
                    else throw Malformed(i);
                }
            }

            // Whether the quoted name at [nameStart, nameEnd) is exactly `name` (unescaped).
            public bool NameIs(int nameStart, int nameEnd, byte[] name)
            {
                if (nameEnd - nameStart - 2 != name.Length) return false;
                for (int k = 0; k < name.Length; k++)
                {
                    if (Bytes[nameStart + 1 + k] != name[k]) return false;
                }
                return true;
            }

            public bool HasEscape(int nameStart, int nameEnd)
            {
                for (int k = nameStart + 1; k < nameEnd - 1; k++)
                {
                    if (Bytes[k] == '\\') return true;
                }
                return false;
            }

            public string Name(int nameStart, int nameEnd)
            {
                string quoted = Encoding.UTF8.GetString(Bytes, nameStart, nameEnd - nameStart);
                return quoted.IndexOf('\\') < 0 ? quoted.Substring(1, quoted.Length - 2) : (string)Json.Parse(quoted);
            }

            public static CosmosException Malformed(int at)
            {
                return new CosmosException(0, "Malformed JSON at offset " + at + ".");
            }
        }
    }
}
