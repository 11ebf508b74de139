// The list classes of the test double: the factory, the elements, the lists and the
// enumerators that the native marshalling finds by name, and the misbehaving lists that
// tests script through TestLists.Make. The enumerator and factory method names are fixed
// by the wrapper contract, so misbehaviour comes from the list object handed in; the
// factory class itself is left out in the world built with NO_LIST_FACTORY.
using System;
using System.Collections.Generic;
using System.Globalization;
using System.Text;

namespace CloudSDKWrapper
{
    public class SStringLib
    {
        public string strValue;
        // Set only by the parameterless constructor: tells a constructed element from one
        // allocated without a constructor run.
        public bool bConstructed;
        public SStringLib() { bConstructed = true; }
        public SStringLib(string value) { strValue = value; bConstructed = true; }
    }

    public class SStorageAccountInfoLib
    {
        public string strName;
        public string strAccountType;
        public string strLocation;
    }

    public class SStringLibList
    {
        public readonly List<SStringLib> Items = new List<SStringLib>();
        public int AddCalls;
        public virtual void Add(SStringLib item) { AddCalls++; Items.Add(item); }
        // Null makes GetEnumerator answer null; an exception here leaves GetEnumerator.
        public virtual IEnumerator<object> Enumerate() { return EnumerateItems(); }
        private IEnumerator<object> EnumerateItems() { foreach (var i in Items) yield return i; }
    }

    public class SStorageAccountInfoLibList
    {
        public readonly List<object> Items = new List<object>();
        public void Add(object item) { Items.Add(item); }
        public virtual IEnumerator<object> Enumerate() { foreach (var i in Items) yield return i; }
    }

#if !NO_LIST_FACTORY
    public class CCloudWrapperFactory
    {
        public static SStringLibList CreateSStringLibList() { return new SStringLibList(); }

        // Further kinds for tests of CreateList and of the fill: "NullLibHandle" and so on.
        public static object CreateNullLibList() { return null; }
        public static object CreateThrowingLibList() { throw new InvalidOperationException("factory fails by design"); }
        public static object CreateParameterLibList(int unused) { return new SStringLibList(); }
        public object CreateInstanceLibList() { return new SStringLibList(); }
        public static object CreateAddlessLibList() { return new ListWithoutAdd(); }
        public static object CreateSecondAddThrowsLibList() { return new ThrowingAddList(2); }
        public static object CreateCollectingLibList() { return new CollectingList(); }
    }
#endif

    public class SStringListEnumerator
    {
        private readonly IEnumerator<object> items;
        private SStringListEnumerator(IEnumerator<object> items) { this.items = items; }
        public static SStringListEnumerator GetEnumerator(object list)
        {
            var items = ((SStringLibList)list).Enumerate();
            return items == null ? null : new SStringListEnumerator(items);
        }
        public bool MoveNext() { return items.MoveNext(); }
        public object Current() { return items.Current; }
    }

    public class SStorageAccountInfoLibListEnumerator
    {
        private readonly IEnumerator<object> items;
        private SStorageAccountInfoLibListEnumerator(IEnumerator<object> items) { this.items = items; }
        public static SStorageAccountInfoLibListEnumerator GetEnumerator(object list)
        {
            var items = ((SStorageAccountInfoLibList)list).Enumerate();
            return items == null ? null : new SStorageAccountInfoLibListEnumerator(items);
        }
        public bool MoveNext() { return items.MoveNext(); }
        public object Current() { return items.Current; }
    }

    // A text list whose enumeration yields any objects and can fail on the way:
    // at element `ThrowAt` MoveNext raises; element `NullAt` is yielded as null.
    public class ScriptedTextList : SStringLibList
    {
        public readonly List<object> Elements = new List<object>();
        public int ThrowAt = -1;
        public int NullAt = -1;
        public bool EnumeratorIsNull;
        public bool EnumerateThrows;
        public bool CollectEachStep;

        public override IEnumerator<object> Enumerate()
        {
            if (EnumerateThrows) throw new NotSupportedException("enumeration fails by design");
            return EnumeratorIsNull ? null : Walk();
        }

        private IEnumerator<object> Walk()
        {
            for (int i = 0; i < Elements.Count; i++)
            {
                if (i == ThrowAt) throw new ArgumentOutOfRangeException("element", "fails by design");
                if (CollectEachStep) GC.Collect();
                yield return i == NullAt ? null : Elements[i];
            }
        }
    }

    // Collects garbage (and so moves young objects) on every Add.
    public class CollectingList : SStringLibList
    {
        public override void Add(SStringLib item) { GC.Collect(); base.Add(item); }
    }

    public class ListWithoutAdd
    {
        public int Count;
        public void Append(SStringLib item) { Count++; }
    }

    // Add raises on call number `throwOn` (1-based); earlier elements are kept.
    public class ThrowingAddList : SStringLibList
    {
        private readonly int throwOn;
        public ThrowingAddList(int throwOn) { this.throwOn = throwOn; }
        public override void Add(SStringLib item)
        {
            if (AddCalls + 1 == throwOn) throw new InvalidCastException("Add fails by design");
            base.Add(item);
        }
    }

    // An account element of a class that lacks "strLocation".
    public class SStorageAccountInfoWithoutLocation
    {
        public string strName;
        public string strAccountType;
    }

    // A text element whose "strValue" is not a string.
    public class ObjectValuedText
    {
        public object strValue = 42;
    }

    // A text element of a class without "strValue".
    public class TextWithoutValue
    {
        public string strOther = "other";
    }

    // An element class whose text field is static: the fill must not write it.
    public class StaticValueText
    {
        public static string strValue = "static";
    }
}

namespace CloudSDKWrapper
{
    // Builds the lists that scripted methods return and that native tests inspect.
    public static class TestLists
    {
        public static SStringLibList Texts(string[] texts)
        {
            var list = new SStringLibList();
            foreach (var t in texts) list.Items.Add(new SStringLib(t));
            return list;
        }

        // Each account is "name,type,location"; "name,type" makes an element whose class has
        // no "strLocation".
        public static SStorageAccountInfoLibList Accounts(string[] accounts)
        {
            var list = new SStorageAccountInfoLibList();
            foreach (var a in accounts)
            {
                var f = a.Split(',');
                if (f.Length == 2)
                    list.Items.Add(new SStorageAccountInfoWithoutLocation { strName = f[0], strAccountType = f[1] });
                else
                    list.Items.Add(new SStorageAccountInfoLib { strName = f[0], strAccountType = f[1], strLocation = f[2] });
            }
            return list;
        }

        // Result kinds of misbehaving lists (texts are "a|b|c" as for "texts:"):
        //   "texts-throw-at:<k>:<texts>"  MoveNext raises when reaching element k (0-based)
        //   "texts-null-at:<k>:<texts>"   Current gives null for element k
        //   "texts-collecting:<texts>"    a garbage collection before each element
        //   "texts-enumerator-null:"      GetEnumerator gives null
        //   "texts-enumerator-throws:"    GetEnumerator raises
        //   "texts-odd:<kinds>"           elements of other classes: "object" (strValue holds
        //                                 a number), "nofield" (no strValue), "nulltext"
        //                                 (strValue null), or a text
        public static object Make(string shape)
        {
            int colon = shape.IndexOf(':');
            if (colon < 0) throw new TestFailureException("unknown result kind " + shape);
            string kind = shape.Substring(0, colon);
            string rest = shape.Substring(colon + 1);
            var list = new ScriptedTextList();
            switch (kind)
            {
                case "texts-throw-at":
                case "texts-null-at":
                {
                    int second = rest.IndexOf(':');
                    int k = int.Parse(rest.Substring(0, second), CultureInfo.InvariantCulture);
                    foreach (var t in TestControl.Split(rest.Substring(second + 1))) list.Elements.Add(new SStringLib(t));
                    if (kind == "texts-throw-at") list.ThrowAt = k; else list.NullAt = k;
                    return list;
                }
                case "texts-collecting":
                    foreach (var t in TestControl.Split(rest)) list.Elements.Add(new SStringLib(t));
                    list.CollectEachStep = true;
                    return list;
                case "texts-enumerator-null": list.EnumeratorIsNull = true; return list;
                case "texts-enumerator-throws": list.EnumerateThrows = true; return list;
                case "texts-odd":
                    foreach (var t in TestControl.Split(rest))
                    {
                        if (t == "object") list.Elements.Add(new ObjectValuedText());
                        else if (t == "nofield") list.Elements.Add(new TextWithoutValue());
                        else if (t == "nulltext") list.Elements.Add(new SStringLib());
                        else list.Elements.Add(new SStringLib(t));
                    }
                    return list;
            }
            throw new TestFailureException("unknown result kind " + shape);
        }

        // Any list a scripted method could return, for tests that convert it directly.
        public static object MakeList(string shape)
        {
            if (shape.StartsWith("texts:")) return Texts(TestControl.Split(shape.Substring(6)));
            if (shape.StartsWith("accounts:")) return Accounts(TestControl.Split(shape.Substring(9)));
            return Make(shape);
        }

        // `count` texts of `length` characters, each different, for the benchmarks.
        public static SStringLibList Generated(int count, int length)
        {
            var list = new SStringLibList();
            var text = new StringBuilder(length);
            for (int i = 0; i < count; i++)
            {
                text.Clear();
                text.Append(i.ToString("D10", CultureInfo.InvariantCulture));
                while (text.Length < length) text.Append((char)('a' + text.Length % 26));
                text.Length = length;
                list.Items.Add(new SStringLib(text.ToString()));
            }
            return list;
        }

        // The managed-only counterpart of the native walk: the same enumerator protocol and
        // field, each text encoded to UTF-8. Returns the number of bytes produced.
        public static long EncodeAll(object list)
        {
            long bytes = 0;
            var enumerator = SStringListEnumerator.GetEnumerator(list);
            while (enumerator.MoveNext())
            {
                var element = (SStringLib)enumerator.Current();
                bytes += Encoding.UTF8.GetBytes(element.strValue).Length;
            }
            return bytes;
        }

        // The UTF-8 bytes of each text of a text list, for BuildFromUtf8.
        public static byte[][] Utf8Texts(object list)
        {
            var items = ((SStringLibList)list).Items;
            var encoded = new byte[items.Count][];
            for (int i = 0; i < encoded.Length; i++) encoded[i] = Encoding.UTF8.GetBytes(items[i].strValue);
            return encoded;
        }

        // The managed-only counterpart of the native fill: a new list from the factory, one
        // constructed element per text decoded from UTF-8, added through Add.
        public static int BuildFromUtf8(byte[][] encoded)
        {
            var list = new SStringLibList();
            foreach (var bytes in encoded)
            {
                var element = new SStringLib();
                element.strValue = Encoding.UTF8.GetString(bytes);
                list.Add(element);
            }
            return list.Items.Count;
        }

        public static int Count(object list)
        {
            var texts = list as SStringLibList;
            if (texts != null) return texts.Items.Count;
            var accounts = list as SStorageAccountInfoLibList;
            if (accounts != null) return accounts.Items.Count;
            var without = list as ListWithoutAdd;
            return without != null ? without.Count : -1;
        }

        public static int AddCalls(object list) { return ((SStringLibList)list).AddCalls; }
        public static object ElementAt(object list, int index) { return ((SStringLibList)list).Items[index]; }
        public static bool Same(object a, object b) { return ReferenceEquals(a, b); }
    }
}
