#include "chain/KeyComparison.h"

#include "chain/ChainRecord.h"
#include "format/GzipFile.h"

namespace cosmosbackup {
namespace {

// The keys of two ordered streams, in order, each once. A key stays valid until the next call.
class UnionCursor : public KeyCursor {
public:
    UnionCursor(KeyCursor& a, KeyCursor& b) : m_a(a), m_b(b) {
        m_hasA = m_a.Next(m_keyA);
        m_hasB = m_b.Next(m_keyB);
    }

    bool Next(std::string_view& key) override {
        // The key handed out last is advanced past only now, so that it stayed valid meanwhile.
        if (m_tookA) m_hasA = m_a.Next(m_keyA);
        if (m_tookB) m_hasB = m_b.Next(m_keyB);
        m_tookA = m_tookB = false;
        if (!m_hasA && !m_hasB) return false;
        m_tookA = m_hasA && (!m_hasB || m_keyA <= m_keyB);
        m_tookB = m_hasB && (!m_hasA || m_keyB <= m_keyA);
        key = m_tookA ? m_keyA : m_keyB;
        return true;
    }

private:
    KeyCursor& m_a;
    KeyCursor& m_b;
    std::string_view m_keyA, m_keyB;
    bool m_hasA = false, m_hasB = false, m_tookA = false, m_tookB = false;
};

class KeyFileWriter {
public:
    KeyFileWriter(BackupStore& store, std::string name) : m_name(std::move(name)), m_writer(store, m_name) {}
    void Add(std::string_view key) {
        m_writer.WriteLine(key);
        ++m_count;
    }
    DataFile Close() {
        const auto stored = m_writer.Close();
        return DataFile{m_name, m_count, stored.bytes, stored.crc32};
    }

private:
    std::string m_name;
    GzipLineWriter m_writer;
    std::int64_t m_count = 0;
};

// Splits the union of `parent` and `changed` by whether each key is in `listed`: into the key
// file when it is and `listedKeep`, else into the deletions.
KeyChangeFiles SplitKeys(BackupStore& store, KeyCursor& parent, KeyCursor& changed, KeyCursor& listed, bool listedKeep) {
    UnionCursor candidates(parent, changed);
    KeyFileWriter keys(store, kKeysFileName), deletions(store, kDeletionsFileName);
    std::string_view next;
    bool hasNext = listed.Next(next);
    for (std::string_view key; candidates.Next(key);) {
        while (hasNext && next < key) hasNext = listed.Next(next);
        const bool isListed = hasNext && next == key;
        if (isListed == listedKeep) keys.Add(key);
        else deletions.Add(key);
    }
    return KeyChangeFiles{keys.Close(), deletions.Close()};
}

}  // namespace

KeyChangeFiles CompareKeys(BackupStore& store, KeyCursor& parent, KeyCursor& changed, KeyCursor& live) {
    return SplitKeys(store, parent, changed, live, true);
}

KeyChangeFiles RemoveDeletedKeys(BackupStore& store, KeyCursor& parent, KeyCursor& changed, KeyCursor& deleted) {
    return SplitKeys(store, parent, changed, deleted, false);
}

}  // namespace cosmosbackup
