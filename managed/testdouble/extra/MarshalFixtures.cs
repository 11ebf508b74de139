// Classes for the native field, object and diagnostic tests: fields of every kind the
// field functions read, constructors that fail, and enumerator classes that break the
// enumeration protocol in one way each.
using System;

namespace CloudSDKWrapper
{
    public struct SmallPoint
    {
        public int nX;
        public int nY;
    }

    public class FieldKinds
    {
        public string strText;
        public string strNull;
        public string strEmpty;
        public object objNotText;
        public bool bFlag;
        public byte byteSmall;
        public int nCount;
        public long llBig;
        public double dRatio;
        public DateTime dtWhen;
        public SmallPoint ptWhere;
        public SStringLib refOther;
        public static int nShared = 7;
        public static string strShared = "shared";
        public const int nConstant = 3;

        public FieldKinds()
        {
            strText = "text \u00e9\u4e2d\U0001F600";
            strEmpty = "";
            objNotText = new SStringLib("not a string");
            bFlag = true;
            byteSmall = 0xAB;
            nCount = -123456;
            llBig = 0x123456789ABCDEFL;
            dRatio = 0.5;
            dtWhen = new DateTime(621355968000000000L + 10000000L * 86400L);
            ptWhere = new SmallPoint { nX = 3, nY = 4 };
            refOther = new SStringLib("other");
        }

        public static void SetTicks(FieldKinds target, long ticks) { target.dtWhen = new DateTime(ticks); }
        public static int PointX(FieldKinds target) { return target.ptWhere.nX; }
        public static int TwoParams(int nFirst, string strSecond) { return nFirst; }
    }

    // A class whose date-time looking field is of another type with a "Ticks" property.
    public class TicksLookalike
    {
        public TicksHolder dtWhen = new TicksHolder();
    }

    public class TicksHolder
    {
        public long Ticks { get { return 621355968000000000L + 50000000L; } }
    }

    public class ThrowingConstructor
    {
        public int nValue = 1;
        public ThrowingConstructor() { throw new FormatException("constructor fails by design"); }
    }

    public class WithoutDefaultConstructor
    {
        public int nValue;
        public WithoutDefaultConstructor(int value) { nValue = value; }
    }

    public static class NoMethods
    {
    }

    public static class Arrays
    {
        public static int Length(object array)
        {
            var bytes = array as byte[];
            return bytes == null ? -1 : bytes.Length;
        }
    }

    public class EnumeratorWithoutCurrent
    {
        public static EnumeratorWithoutCurrent GetEnumerator(object list) { return new EnumeratorWithoutCurrent(); }
        public bool MoveNext() { return false; }
    }

    public class EnumeratorWithCurrentProperty
    {
        public static EnumeratorWithCurrentProperty GetEnumerator(object list) { return new EnumeratorWithCurrentProperty(); }
        public bool MoveNext() { return false; }
        public object Current { get { return null; } }
    }

    public class EnumeratorWithInstanceGetEnumerator
    {
        public EnumeratorWithInstanceGetEnumerator GetEnumerator(object list) { return this; }
        public bool MoveNext() { return false; }
        public object Current() { return null; }
    }

    // MoveNext answers with an object: null, or a number where a Boolean belongs.
    public class EnumeratorWithObjectMoveNext
    {
        private readonly object answer;
        private EnumeratorWithObjectMoveNext(object answer) { this.answer = answer; }
        public static EnumeratorWithObjectMoveNext GetEnumerator(object list)
        {
            var texts = list as SStringLibList;
            return new EnumeratorWithObjectMoveNext(texts != null && texts.Items.Count > 0 ? (object)17 : null);
        }
        public object MoveNext() { return answer; }
        public object Current() { return null; }
    }

    // GetEnumerator answers with an object of another class, on which MoveNext must not run.
    public class EnumeratorGivingAnotherObject
    {
        private int steps;
        public static object GetEnumerator(object list) { return new SStringLib("not an enumerator"); }
        public bool MoveNext() { return ++steps < 2; }
        public object Current() { return null; }
    }

    // Lists whose Add takes texts or numbers, not elements.
    public class ListWithTextAdd
    {
        public int nAdded;
        public void Add(string item) { nAdded += item.Length; }
    }

    public class ListWithNumberAdd
    {
        public int nAdded;
        public void Add(int item) { nAdded += item; }
    }
}
