#pragma once

#include <QString>
#include <QStringView>

#include <memory>
#include <vector>

// Decides which nodes the file tree gets for each record, in catalog order. Folders follow
// the tree path's components; a file node is made for the last one only when it is a proper
// file name (an extension, no leading dot) and nothing of that text exists at that level yet.
// Nodes are never sorted; a level keeps the order in which its nodes were appended.
//
// The nodes (parent, text, record) stay until clear(): the tree view shows them as they are.
// Each text is stored once, in large blocks that never move; one hash table over (parent,
// text) finds a node, so a folder with a hundred thousand files costs no more per record than
// a small one, and a million records make no million small allocations. Texts are unique
// within a level, because a node is appended only where none of its text exists.
class TFileTreeShape final
{
public:
    static constexpr int kTop = -1; // the parent of top-level nodes

    // Places record recordIndex under treePath. For every node appended, in order, calls
    // created(id, parentId, text, recordIndex), with recordIndex -1 for a folder node.
    // Ids count from 0 in creation order. text stays valid until clear().
    template <typename Created>
    void place(int recordIndex, QStringView treePath, Created&& created);

    void clear();
    // Frees what only placing needs; the nodes stay.
    void dropIndex();
    int nodeCount() const { return int(m_nodes.size()); }
    int parentOf(int id) const { return m_nodes[size_t(id)].parent; }
    int recordOf(int id) const { return m_nodes[size_t(id)].record; }
    QStringView textOf(int id) const
    {
        const Node& node = m_nodes[size_t(id)];
        return QStringView(node.text, qsizetype(node.length));
    }

    // Whether a name is shown as a file: it has an extension and does not start with a dot.
    static bool isFileName(QStringView name);

private:
    struct Node
    {
        const char16_t* text;
        quint32 length;
        int parent;
        int record;
    };

    // The node of text under parent, or -1; slot receives where it would go.
    int find(int parent, QStringView text, quint32 hash, size_t& slot) const;
    int append(int parent, QStringView text, quint32 hash, size_t slot, int record);
    static quint32 hashOf(int parent, QStringView text);

    std::vector<Node> m_nodes;
    struct Slot
    {
        quint32 hash;
        quint32 entry; // node id + 1, 0 for a free slot
    };
    std::vector<Slot> m_table; // a power of two long; the hash spares a visit to most nodes
    std::vector<std::unique_ptr<char16_t[]>> m_blocks;
    char16_t* m_free = nullptr;
    size_t m_freeLeft = 0;
    QString m_lastFolders; // the folder part of the last tree path placed ...
    int m_lastLevel = kTop; // ... and its node
};

template <typename Created>
void TFileTreeShape::place(int recordIndex, QStringView treePath, Created&& created)
{
    QStringView rest(treePath);
    // A separator at the very end adds no empty last component.
    if (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);
    const qsizetype lastSlash = rest.lastIndexOf(QLatin1Char('/'));
    // A single component (a file right in a domain's root) makes no node at all.
    if (lastSlash < 0)
        return;
    const QStringView folders = rest.left(lastSlash);
    const QStringView name = rest.mid(lastSlash + 1);
    auto announce = [&created, this](int id) {
        const QStringView text = textOf(id);
        created(id, parentOf(id), QString::fromRawData(reinterpret_cast<const QChar*>(text.utf16()),
                                                      text.size()),
                recordOf(id));
    };

    // Catalogs list a folder's files together: the folder of the previous record is usually
    // this one's too, and a folder path always leads to the same node.
    int level;
    if (m_lastLevel != kTop && folders == m_lastFolders) {
        level = m_lastLevel;
    } else {
        level = kTop;
        QStringView walk = folders;
        for (;;) {
            const qsizetype slash = walk.indexOf(QLatin1Char('/'));
            const QStringView component = slash < 0 ? walk : walk.left(slash);
            const quint32 hash = hashOf(level, component);
            size_t slot = 0;
            int id = find(level, component, hash, slot);
            if (id < 0) {
                id = append(level, component, hash, slot, -1);
                announce(id);
            }
            level = id;
            if (slash < 0)
                break;
            walk = walk.mid(slash + 1);
        }
        m_lastFolders = folders.toString();
        m_lastLevel = level;
    }

    if (!isFileName(name))
        return;
    const quint32 hash = hashOf(level, name);
    size_t slot = 0;
    if (find(level, name, hash, slot) >= 0)
        return;
    announce(append(level, name, hash, slot, recordIndex));
}
