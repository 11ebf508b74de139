// The list classes of the test double: the factory, the elements, the lists and the
// enumerators that the native marshalling finds by name.
using System;
using System.Collections.Generic;

namespace CloudSDKWrapper
{
    public class SStringLib
    {
        public string strValue;
        public SStringLib() { }
        public SStringLib(string value) { strValue = value; }
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
        public void Add(SStringLib item) { AddCalls++; Items.Add(item); }
        public virtual IEnumerator<object> Enumerate() { foreach (var i in Items) yield return i; }
    }

    public class SStorageAccountInfoLibList
    {
        public readonly List<object> Items = new List<object>();
        public void Add(object item) { Items.Add(item); }
        public virtual IEnumerator<object> Enumerate() { foreach (var i in Items) yield return i; }
    }

    public class CCloudWrapperFactory
    {
        public static SStringLibList CreateSStringLibList() { return new SStringLibList(); }
    }

    public class SStringListEnumerator
    {
        private readonly IEnumerator<object> items;
        private SStringListEnumerator(IEnumerator<object> items) { this.items = items; }
        public static SStringListEnumerator GetEnumerator(object list)
        {
            return new SStringListEnumerator(((SStringLibList)list).Enumerate());
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
            return new SStorageAccountInfoLibListEnumerator(((SStorageAccountInfoLibList)list).Enumerate());
        }
        public bool MoveNext() { return items.MoveNext(); }
        public object Current() { return items.Current; }
    }
}

namespace CloudSDKWrapper
{
    // Builds the lists that scripted methods return.
    public static class TestLists
    {
        public static SStringLibList Texts(string[] texts)
        {
            var list = new SStringLibList();
            foreach (var t in texts) list.Items.Add(new SStringLib(t));
            return list;
        }

        // Each account is "name,type,location".
        public static SStorageAccountInfoLibList Accounts(string[] accounts)
        {
            var list = new SStorageAccountInfoLibList();
            foreach (var a in accounts)
            {
                var f = a.Split(',');
                list.Items.Add(new SStorageAccountInfoLib { strName = f[0], strAccountType = f[1], strLocation = f[2] });
            }
            return list;
        }

        // Further result kinds for tests of misbehaving lists; unknown kinds are a test error.
        public static object Make(string spec)
        {
            throw new TestFailureException("unknown result kind " + spec);
        }
    }
}
