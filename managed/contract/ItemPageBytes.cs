// A page of items as the bridge takes it in one piece: a byte array of
//   item count (32 bits, little-endian),
//   the end of each item (32 bits each, little-endian, from the start of the item bytes),
//   the item bytes: each item's UTF-8 JSON text followed by a line feed.
// The native side copies the array once and writes the item bytes to a data file as they are.
using System;
using System.Collections.Generic;
using System.Text;

namespace CloudSDKWrapper
{
    public sealed class ItemPageBytes
    {
        private byte[] m_data = new byte[64 << 10];
        private int m_length;
        private readonly List<int> m_ends = new List<int>();

        // One builder per thread, kept: its buffer grows to the largest page once, not per page.
        [ThreadStatic] private static ItemPageBytes t_kept;

        public static ItemPageBytes Rent()
        {
            var page = t_kept ?? (t_kept = new ItemPageBytes());
            page.m_length = 0;
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
            m_ends.Add(m_length);
            Append((byte)'\n');
        }

        public void AddText(string item)
        {
            var bytes = Encoding.UTF8.GetBytes(item);
            Append(bytes, 0, bytes.Length);
            EndItem();
        }

        public static byte[] Of(IEnumerable<string> items)
        {
            var page = Rent();
            foreach (var item in items) page.AddText(item);
            return page.ToArray();
        }

        public byte[] ToArray()
        {
            int header = 4 * (1 + m_ends.Count);
            var result = new byte[header + m_length];
            WriteInt(result, 0, m_ends.Count);
            for (int i = 0; i < m_ends.Count; i++) WriteInt(result, 4 * (i + 1), m_ends[i]);
            Buffer.BlockCopy(m_data, 0, result, header, m_length);
            return result;
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
