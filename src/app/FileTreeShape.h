#pragma once

#include <QHash>
#include <QString>
#include <QStringView>

#include <vector>

// Decides which nodes the file tree gets for each record, in catalog order. Folders follow
// the tree path's components; a file node is made for the last one only when it is a proper
// file name (an extension, no leading dot) and nothing of that text exists at that level yet.
// Nodes are never sorted; a level keeps the order in which its nodes were appended.
//
// Each level keeps an index from text to node, so a folder with a hundred thousand files
// costs no more per record than a small one. Texts are unique within a level, because a node
// is appended only where none of its text exists.
class TFileTreeShape final
{
public:
    static constexpr int kTop = -1; // the parent of top-level nodes

    // Places record recordIndex under treePath. For every node appended, in order, calls
    // created(id, parentId, text, recordIndex), with recordIndex -1 for a folder node.
    // Ids count from 0 in creation order.
    template <typename Created>
    void place(int recordIndex, const QString& treePath, Created&& created);

    void clear()
    {
        m_top.clear();
        m_levels.clear();
        m_lastFolders.clear();
        m_lastLevel = kTop;
    }
    int nodeCount() const { return int(m_levels.size()); }

    // Whether a name is shown as a file: it has an extension and does not start with a dot.
    static bool isFileName(QStringView name);

private:
    QHash<QString, int>& childrenOf(int parent)
    {
        return parent == kTop ? m_top : m_levels[parent];
    }

    QHash<QString, int> m_top;
    std::vector<QHash<QString, int>> m_levels; // by node id: that node's children by text
    QString m_lastFolders;                     // the folder part of the last tree path placed ...
    int m_lastLevel = kTop;                    // ... and its node
};

template <typename Created>
void TFileTreeShape::place(int recordIndex, const QString& treePath, Created&& created)
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
            const QString component = (slash < 0 ? walk : walk.left(slash)).toString();
            QHash<QString, int>& children = childrenOf(level);
            const auto found = children.constFind(component);
            if (found != children.cend()) {
                level = *found;
            } else {
                const int id = int(m_levels.size());
                children.insert(component, id);
                m_levels.emplace_back();
                created(id, level, component, -1);
                level = id;
            }
            if (slash < 0)
                break;
            walk = walk.mid(slash + 1);
        }
        m_lastFolders = folders.toString();
        m_lastLevel = level;
    }

    if (!isFileName(name))
        return;
    const QString text = name.toString();
    QHash<QString, int>& children = childrenOf(level);
    if (children.contains(text))
        return;
    const int id = int(m_levels.size());
    children.insert(text, id);
    m_levels.emplace_back();
    created(id, level, text, recordIndex);
}
