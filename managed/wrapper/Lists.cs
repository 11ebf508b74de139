// The list and element classes that the native bridge creates, fills and walks by name.
// The bridge invokes MoveNext, Current and Add without an exception slot, so none of them
// may throw: a managed exception there would end the host process.
using System.Collections.Generic;

namespace CloudSDKWrapper
{
    public class SStringLib
    {
        public string strValue;

        public SStringLib() { strValue = ""; }
        public SStringLib(string value) { strValue = value ?? ""; }
    }

    public class SStorageAccountInfoLib
    {
        public string strName;
        public string strAccountType;
        public string strLocation;

        public SStorageAccountInfoLib() { strName = ""; strAccountType = ""; strLocation = ""; }
    }

    public class SStringLibList
    {
        internal readonly List<SStringLib> Items = new List<SStringLib>();

        public void Add(SStringLib element)
        {
            if (element != null) Items.Add(element);
        }

        public static SStringLibList Of(IEnumerable<string> texts)
        {
            var list = new SStringLibList();
            foreach (var text in texts) list.Add(new SStringLib(text));
            return list;
        }
    }

    public class SStorageAccountInfoLibList
    {
        internal readonly List<SStorageAccountInfoLib> Items = new List<SStorageAccountInfoLib>();

        public void Add(SStorageAccountInfoLib element)
        {
            if (element != null) Items.Add(element);
        }
    }

    public static class CCloudWrapperFactory
    {
        public static SStringLibList CreateSStringLibList() { return new SStringLibList(); }
    }

    // Enumerators: GetEnumerator takes the list as object because the bridge does not check
    // types; anything that is not a list of the right kind enumerates as empty.
    public class SStringListEnumerator
    {
        private readonly List<SStringLib> m_items;
        private int m_index = -1;

        private SStringListEnumerator(List<SStringLib> items) { m_items = items; }

        public static SStringListEnumerator GetEnumerator(object list)
        {
            var typed = list as SStringLibList;
            return new SStringListEnumerator(typed != null ? typed.Items : new List<SStringLib>());
        }

        public bool MoveNext()
        {
            if (m_index < m_items.Count) m_index++;
            return m_index < m_items.Count;
        }

        public SStringLib Current()
        {
            return m_index >= 0 && m_index < m_items.Count ? m_items[m_index] : null;
        }
    }

    public class SStorageAccountInfoLibListEnumerator
    {
        private readonly List<SStorageAccountInfoLib> m_items;
        private int m_index = -1;

        private SStorageAccountInfoLibListEnumerator(List<SStorageAccountInfoLib> items) { m_items = items; }

        public static SStorageAccountInfoLibListEnumerator GetEnumerator(object list)
        {
            var typed = list as SStorageAccountInfoLibList;
            return new SStorageAccountInfoLibListEnumerator(typed != null ? typed.Items : new List<SStorageAccountInfoLib>());
        }

        public bool MoveNext()
        {
            if (m_index < m_items.Count) m_index++;
            return m_index < m_items.Count;
        }

        public SStorageAccountInfoLib Current()
        {
            return m_index >= 0 && m_index < m_items.Count ? m_items[m_index] : null;
        }
    }
}
