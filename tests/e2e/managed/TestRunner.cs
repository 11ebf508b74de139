// A small test runner for the managed tests: each test is a method; a failed check throws,
// and the runner prints one line per test and a closing "N passed, N failed" line.
using System;
using System.Collections.Generic;

namespace CloudSDKWrapperTests
{
    internal sealed class CheckFailed : Exception
    {
        public CheckFailed(string message) : base(message) { }
    }

    internal static class Check
    {
        public static void True(bool condition, string what)
        {
            if (!condition) throw new CheckFailed(what);
        }

        public static void Equal<T>(T expected, T actual, string what)
        {
            if (!EqualityComparer<T>.Default.Equals(expected, actual))
                throw new CheckFailed(what + ": expected [" + expected + "], got [" + actual + "]");
        }
    }

    internal sealed class TestRunner
    {
        private readonly List<KeyValuePair<string, Action>> m_tests = new List<KeyValuePair<string, Action>>();

        public void Add(string name, Action test) { m_tests.Add(new KeyValuePair<string, Action>(name, test)); }

        public int Run()
        {
            int passed = 0, failed = 0;
            foreach (var test in m_tests)
            {
                try
                {
                    test.Value();
                    passed++;
                    Console.WriteLine("PASS " + test.Key);
                }
                catch (Exception e)
                {
                    failed++;
                    Console.WriteLine("FAIL " + test.Key + ": " + (e is CheckFailed ? e.Message : e.ToString()));
                }
            }
            Console.WriteLine(passed + " passed, " + failed + " failed");
            return failed == 0 ? 0 : 1;
        }
    }
}
