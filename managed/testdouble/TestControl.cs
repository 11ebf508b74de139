// Scripting and recording for the test double. Native tests call these static methods to
// say how the next calls of a managed method behave, and read back what each call received.
//
// Script(method, key, value) keys:
//   "result"  what the method returns: "true", "false", "null", "string:<text>",
//             "texts:<a>|<b>|...", "accounts:<name>,<type>,<location>|..." ("texts:" alone is
//             an empty list); "page:<a>|<b>|..." a page of items as ItemPageBytes lays it
//             out ("page:" alone is an empty page); "bytes:<hex>" any byte array;
//             list kinds of Lists.cs may add more.
//   "throw"   the full name of an exception class to raise after the by-reference writes.
//   "ref<N>"  the value written to by-reference parameter N (1-based) before returning;
//             "null" for a null string.
//   "block"   milliseconds to wait before acting.
// Values are unescaped like C# literals ("\uD800" is a lone surrogate).
using System;
using System.Collections.Generic;
using System.Globalization;
using System.Text;
using System.Text.RegularExpressions;
using System.Threading;

namespace CloudSDKWrapper
{
    public class TestFailureException : Exception
    {
        public TestFailureException(string message) : base(message) { }
    }

    public static class TestControl
    {
        private static readonly object Gate = new object();
        private static readonly Dictionary<string, Dictionary<string, string>> Scripts =
            new Dictionary<string, Dictionary<string, string>>();
        private static readonly Dictionary<string, object[]> LastArgs = new Dictionary<string, object[]>();
        private static readonly Dictionary<string, int> Counts = new Dictionary<string, int>();
        public static int LiveWrappers;

        public static void Reset()
        {
            lock (Gate) { Scripts.Clear(); LastArgs.Clear(); Counts.Clear(); }
        }

        public static void Script(string method, string key, string value)
        {
            lock (Gate)
            {
                Dictionary<string, string> script;
                if (!Scripts.TryGetValue(method, out script)) Scripts[method] = script = new Dictionary<string, string>();
                script[key] = value;
            }
        }

        public static int CallCount(string method)
        {
            lock (Gate) { int n; return Counts.TryGetValue(method, out n) ? n : 0; }
        }

        // The arguments of the last call, one per parameter, by-reference ones as they came in:
        // strings quoted, null as null, numbers and flags as invariant text.
        public static string LastCall(string method)
        {
            object[] args;
            lock (Gate) { if (!LastArgs.TryGetValue(method, out args)) return null; }
            var text = new StringBuilder();
            for (int i = 0; i < args.Length; i++)
            {
                if (i > 0) text.Append('|');
                text.Append(Format(args[i]));
            }
            return text.ToString();
        }

        public static object Arg(string method, int index)
        {
            lock (Gate)
            {
                object[] args;
                return LastArgs.TryGetValue(method, out args) && index < args.Length ? args[index] : null;
            }
        }

        public static void Collect() { GC.Collect(); GC.WaitForPendingFinalizers(); }

        // Records the call and applies the script. By-reference values are read from and
        // written back into `args`; the exception to raise, if any, comes back in `toThrow` so
        // that the caller can write its by-reference parameters first.
        internal static object Run(string method, object[] args, string defaultResult, out Exception toThrow)
        {
            Dictionary<string, string> script;
            lock (Gate)
            {
                LastArgs[method] = (object[])args.Clone();
                int n;
                Counts[method] = Counts.TryGetValue(method, out n) ? n + 1 : 1;
                Scripts.TryGetValue(method, out script);
                script = script == null ? new Dictionary<string, string>() : new Dictionary<string, string>(script);
            }
            string value;
            if (script.TryGetValue("block", out value)) Thread.Sleep(int.Parse(value, CultureInfo.InvariantCulture));
            for (int i = 0; i < args.Length; i++)
            {
                if (script.TryGetValue("ref" + (i + 1), out value)) args[i] = Convert(value, args[i]);
            }
            toThrow = script.TryGetValue("throw", out value) ? MakeException(value) : null;
            return MakeResult(script.TryGetValue("result", out value) ? value : defaultResult);
        }

        private static object MakeResult(string shape)
        {
            if (shape == "null") return null;
            if (shape == "true") return true;
            if (shape == "false") return false;
            if (shape.StartsWith("string:")) return Unescape(shape.Substring(7));
            if (shape.StartsWith("texts:")) return TestLists.Texts(Split(shape.Substring(6)));
            if (shape.StartsWith("accounts:")) return TestLists.Accounts(Split(shape.Substring(9)));
            if (shape.StartsWith("page:")) return ItemPageBytes.Of(Split(shape.Substring(5)));
            if (shape.StartsWith("bytes:")) return Hex(shape.Substring(6));
            return TestLists.Make(shape);
        }

        private static byte[] Hex(string digits)
        {
            var bytes = new byte[digits.Length / 2];
            for (int i = 0; i < bytes.Length; i++) bytes[i] = byte.Parse(digits.Substring(2 * i, 2), NumberStyles.HexNumber);
            return bytes;
        }

        internal static string[] Split(string list)
        {
            if (list.Length == 0) return new string[0];
            var parts = list.Split('|');
            for (int i = 0; i < parts.Length; i++) parts[i] = Unescape(parts[i]);
            return parts;
        }

        private static Exception MakeException(string typeName)
        {
            var type = Type.GetType(typeName) ?? typeof(TestControl).Assembly.GetType(typeName);
            if (type == null) return new TestFailureException("unknown exception class " + typeName);
            return (Exception)Activator.CreateInstance(type, new object[] { "scripted" });
        }

        private static object Convert(string value, object current)
        {
            if (current is bool) return value == "true";
            if (current is int) return int.Parse(value, CultureInfo.InvariantCulture);
            if (current is long) return long.Parse(value, CultureInfo.InvariantCulture);
            return value == "null" ? null : Unescape(value);
        }

        private static string Unescape(string value) { return Regex.Unescape(value); }

        private static string Format(object value)
        {
            if (value == null) return "null";
            if (value is string) return "\"" + value + "\"";
            if (value is bool) return (bool)value ? "true" : "false";
            var formattable = value as IFormattable;
            if (formattable != null) return formattable.ToString(null, CultureInfo.InvariantCulture);
            return value.GetType().Name;
        }
    }
}
