#include "app/FileTreeShape.h"

#include <QHashFunctions>

#include <algorithm>

namespace {
constexpr size_t kBlockChars = size_t(1) << 19;
}

bool TFileTreeShape::isFileName(QStringView name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        return false;
    // A dot that is not the last character: "x.txt" and "x.." qualify, "x." does not.
    return name.first(name.size() - 1).contains(QLatin1Char('.'));
}

void TFileTreeShape::clear()
{
    m_nodes = {};
    m_table = {};
    m_blocks.clear();
    m_free = nullptr;
    m_freeLeft = 0;
    m_lastFolders.clear();
    m_lastLevel = kTop;
}

void TFileTreeShape::dropIndex()
{
    m_table = {};
    m_lastFolders.clear();
    m_lastLevel = kTop;
    m_nodes.shrink_to_fit();
}

quint32 TFileTreeShape::hashOf(int parent, QStringView text)
{
    return quint32(qHash(text, size_t(parent) * 0x9E3779B97F4A7C15ull));
}

int TFileTreeShape::find(int parent, QStringView text, quint32 hash, size_t& slot) const
{
    if (m_table.empty()) {
        slot = 0;
        return -1;
    }
    const size_t mask = m_table.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& entry = m_table[i];
        if (entry.entry == 0) {
            slot = i;
            return -1;
        }
        if (entry.hash != hash)
            continue;
        const Node& node = m_nodes[entry.entry - 1];
        if (node.parent == parent && QStringView(node.text, qsizetype(node.length)) == text)
            return int(entry.entry - 1);
    }
}

int TFileTreeShape::append(int parent, QStringView text, quint32 hash, size_t slot, int record)
{
    // Kept at most half full: probes stay short.
    if ((m_nodes.size() + 1) * 2 > m_table.size()) {
        std::vector<Slot> table(std::max<size_t>(1024, m_table.size() * 2), Slot{0, 0});
        const size_t mask = table.size() - 1;
        for (const Slot& entry : m_table) {
            if (entry.entry == 0)
                continue;
            size_t i = entry.hash & mask;
            while (table[i].entry != 0)
                i = (i + 1) & mask;
            table[i] = entry;
        }
        m_table = std::move(table);
        for (slot = hash & mask; m_table[slot].entry != 0; slot = (slot + 1) & mask) {
        }
    }
    const size_t length = size_t(text.size());
    if (length > m_freeLeft) {
        const size_t chars = std::max(length, kBlockChars);
        m_blocks.push_back(std::make_unique_for_overwrite<char16_t[]>(chars));
        m_free = m_blocks.back().get();
        m_freeLeft = chars;
    }
    std::copy_n(text.utf16(), length, m_free);
    const int id = int(m_nodes.size());
    m_nodes.push_back({m_free, quint32(length), parent, record});
    m_free += length;
    m_freeLeft -= length;
    m_table[slot] = Slot{hash, quint32(id + 1)};
    return id;
}
