// Answers arrive as UTF-8 bytes. Decoding them to text replaces every invalid sequence with
// U+FFFD; readers that pass the bytes on undecoded first make them what a decode and an
// encode would give, so that both ways give the same bytes.
using System.Text;

namespace CloudSDKWrapper
{
    internal static class Utf8Text
    {
        public static string Decode(byte[] bytes)
        {
            int skip = HasBom(bytes) ? 3 : 0;
            return Encoding.UTF8.GetString(bytes, skip, bytes.Length - skip);
        }

        // `bytes` when they are valid UTF-8, else the bytes of their decoded text.
        public static byte[] Valid(byte[] bytes)
        {
            return IsValid(bytes) ? bytes : Encoding.UTF8.GetBytes(Decode(bytes));
        }

        private static bool HasBom(byte[] b)
        {
            return b.Length >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF;
        }

        // Well-formed UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing above U+10FFFF.
        public static bool IsValid(byte[] b)
        {
            int i = 0, n = b.Length;
            while (i < n)
            {
                byte c = b[i];
                if (c < 0x80)
                {
                    i++;
                    continue;
                }
                int more;
                byte low = 0x80, high = 0xBF;
                if (c >= 0xC2 && c <= 0xDF) more = 1;
                else if (c >= 0xE0 && c <= 0xEF)
                {
                    more = 2;
                    if (c == 0xE0) low = 0xA0;
                    else if (c == 0xED) high = 0x9F;
                }
                else if (c >= 0xF0 && c <= 0xF4)
                {
                    more = 3;
                    if (c == 0xF0) low = 0x90;
                    else if (c == 0xF4) high = 0x8F;
                }
                else return false;
                if (i + more >= n) return false;
                if (b[i + 1] < low || b[i + 1] > high) return false;
                for (int k = 2; k <= more; k++)
                {
                    if (b[i + k] < 0x80 || b[i + k] > 0xBF) return false;
                }
                i += more + 1;
            }
            return true;
        }
    }
}
