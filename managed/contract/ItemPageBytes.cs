// A page of items as the bridge takes it in one piece: a byte array of
//   item count (32 bits, little-endian),
//   length of the item bytes (32 bits, little-endian),
//   the item bytes: each item's UTF-8 JSON text followed by a line feed,
//   the end of each item (32 bits each, little-endian, from the start of the item bytes),
// and after that anything (the array is a reused buffer, longer than what it holds).
// The native side copies the page once and writes the item bytes to a data file as they are.
using System;
using System.Collections.Generic;
using System.Text;

namespace CloudSDKWrapper
{
    public sealed class ItemPageBytes
    {
        private const int HeaderBytes = 8;
        private byte[] m_data = new byte[64 << 10];
        private int m_length = HeaderBytes;
        private readonly List<int> m_ends = new List<int>();

        // One builder per thread, kept: its buffer grows to the largest page once, not per
        // page, and is handed over as it is (the bridge copies it before the thread's next page).
        [ThreadStatic] private static ItemPageBytes t_kept;

        public static ItemPageBytes Rent()
        {
            var page = t_kept ?? (t_kept = new ItemPageBytes());
            page.m_length = HeaderBytes;
            page.m_ends.Clear();
            return page;
        }

        public int Count { get { return m_ends.Count; } }

        public void Append(byte[] source, int start, int count)
        {
            Reserve(count);
            Buffer.BlockCopy(source, start, m_data, m_length, count);
            m_length += count;
        }

        public void Append(byte b)
        {
            Reserve(1);
            m_data[m_length++] = b;
        }

        // Ends the item appended since the last one.
        public void EndItem()
        {
            m_ends.Add(m_length - HeaderBytes);
            Append((byte)'\n');
        }

        public void AddText(string item)
        {
            var bytes = Encoding.UTF8.GetBytes(item);
            Append(bytes, 0, bytes.Length);
            EndItem();
        }

        // The page laid out in this thread's kept buffer, valid until the thread's next Rent.
        public static byte[] Of(IEnumerable<string> items)
        {
            var page = Rent();
            foreach (var item in items) page.AddText(item);
            return page.Finish();
        }

        // Lays the page out (header, items, ends) and returns the buffer that holds it, valid
        // until this thread's next Rent.
        public byte[] Finish()
        {
            int itemBytes = m_length - HeaderBytes;
            Reserve(4 * m_ends.Count);
            WriteInt(m_data, 0, m_ends.Count);
            WriteInt(m_data, 4, itemBytes);
            foreach (int end in m_ends)
            {
                WriteInt(m_data, m_length, end);
                m_length += 4;
            }
            return m_data;
        }

        private void Reserve(int more)
        {
            if (m_length + more <= m_data.Length) return;
            long grown = Math.Max((long)m_data.Length * 2, (long)m_length + more);
            if (grown > int.MaxValue - 64) throw new InvalidOperationException("A page of items is larger than 2 GB.");
            Array.Resize(ref m_data, (int)grown);
        }

        private static void WriteInt(byte[] to, int at, int value)
        {
            to[at] = (byte)value;
            to[at + 1] = (byte)(value >> 8);
            to[at + 2] = (byte)(value >> 16);
            to[at + 3] = (byte)(value >> 24);
        }
    }
}
