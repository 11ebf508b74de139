// Classes for the native reliability tests: lists, elements and values that fail inside
// one of the managed calls the native marshalling makes, and objects with fields of every
// width for reads of the wrong width.
using System;
using System.Collections;
using System.Collections.Generic;

namespace CloudSDKWrapper
{
    // A text list whose enumerator's Current raises at element `ThrowAt` (0-based); the
    // elements before it are handed out normally.
    public class ReliabilityCurrentThrowsList : SStringLibList
    {
        public int ThrowAt;

        public override IEnumerator<object> Enumerate() { return new Walker(this); }

        private sealed class Walker : IEnumerator<object>
        {
            private readonly ReliabilityCurrentThrowsList list;
            private int at = -1;
            public Walker(ReliabilityCurrentThrowsList list) { this.list = list; }
            public bool MoveNext() { return ++at < list.Items.Count; }
            public object Current
            {
                get
                {
                    if (at == list.ThrowAt) throw new FormatException("Current fails by design");
                    return list.Items[at];
                }
            }
            object IEnumerator.Current { get { return Current; } }
            public void Reset() { at = -1; }
            public void Dispose() { }
        }
    }

    // An account list whose enumeration raises when it reaches element `ThrowAt` (0-based).
    public class ReliabilityAccountsThrowingList : SStorageAccountInfoLibList
    {
        public int ThrowAt;
        public override IEnumerator<object> Enumerate()
        {
            for (int i = 0; i < Items.Count; i++)
            {
                if (i == ThrowAt) throw new TimeoutException("enumeration fails by design");
                yield return Items[i];
            }
        }
    }

    // A text list whose Add raises on call number `ThrowOn` (1-based); earlier elements stay.
    public class ReliabilityAddThrowsList : SStringLibList
    {
        public int ThrowOn;
        public override void Add(SStringLib item)
        {
            if (AddCalls + 1 == ThrowOn) throw new OutOfMemoryException("Add fails by design");
            base.Add(item);
        }
    }

    // An element class for the fill whose constructor raises.
    public class ReliabilityThrowingElement
    {
        public string strValue;
        public ReliabilityThrowingElement() { throw new ArgumentNullException("strValue", "constructor fails by design"); }
    }

    // A value type whose "Ticks" getter raises: a date-time field of this type must not be
    // read through it.
    public struct ReliabilityTicks
    {
        public long Ticks { get { throw new InvalidOperationException("Ticks fails by design"); } }
    }

    public class ReliabilityDates
    {
        public ReliabilityTicks dtThrowing;
        public DateTime dtMax = DateTime.MaxValue;
        public DateTime dtMin = DateTime.MinValue;
    }

    // One field of each width and kind, with values whose every byte is set, so that a read
    // of the wrong width could not pass for a right one.
    public class ReliabilityWidths
    {
        public byte u8 = 0xA5;
        public bool flag = true;
        public short i16 = -0x5A5B;
        public int i32 = -0x5A5B5C5D;
        public long i64 = -0x5A5B5C5D5E5F6061L;
        public double f64 = -1.5e300;
        public decimal d128 = 79228162514264337593543950335m;
        public DateTime when = new DateTime(2001, 2, 3, 4, 5, 6, DateTimeKind.Utc);
        public Guid guid = new Guid("01234567-89ab-cdef-0123-456789abcdef");
        public string text = "width";
        public object boxed = 42;
        public SStringLib reference = new SStringLib("ref");
    }

    public static class ReliabilityLists
    {
        public static object CurrentThrowsAt(int k, string texts)
        {
            var list = new ReliabilityCurrentThrowsList { ThrowAt = k };
            foreach (var t in TestControl.Split(texts)) list.Items.Add(new SStringLib(t));
            return list;
        }

        public static object AccountsThrowingAt(int k, int count)
        {
            var list = new ReliabilityAccountsThrowingList { ThrowAt = k };
            for (int i = 0; i < count; i++)
                list.Add(new SStorageAccountInfoLib { strName = "n" + i, strAccountType = "t", strLocation = "l" });
            return list;
        }

        public static object AddThrowsOn(int n) { return new ReliabilityAddThrowsList { ThrowOn = n }; }

        public static string TextsOf(object list)
        {
            var texts = (SStringLibList)list;
            var joined = new System.Text.StringBuilder();
            foreach (var item in texts.Items) joined.Append(item.strValue).Append('|');
            return joined.ToString();
        }
    }

    // An exception that carries a secret in its message and stack trace, as a managed
    // method might when it reports which account or key failed: the bridge must not log it.
    public class ReliabilitySecretException : Exception
    {
        private static string secret = "";
        public static void SetSecret(string value) { secret = value; }
        public ReliabilitySecretException(string message) : base(message + ": " + secret) { }
        public override string StackTrace { get { return secret; } }
    }
}
