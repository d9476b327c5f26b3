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
    }
    int nodeCount() const { return int(m_levels.size()); }

    // Whether a name is shown as a file: it has an extension and does not start with a dot.
    static bool isFileName(QStringView name);

private:
    QHash<QString, int>& childrenOf(int parent) { return parent == kTop ? m_top : m_levels[parent]; }

    QHash<QString, int> m_top;
    std::vector<QHash<QString, int>> m_levels; // by node id: that node's children by text
};

template <typename Created>
void TFileTreeShape::place(int recordIndex, const QString& treePath, Created&& created)
{
    if (treePath.isEmpty())
        return;
    QStringView rest(treePath);
    // A separator at the very end adds no empty last component.
    if (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);
    // A single component (a file right in a domain's root) makes no node at all.
    if (!rest.contains(QLatin1Char('/')))
        return;
    int level = kTop;
    qsizetype slash;
    while ((slash = rest.indexOf(QLatin1Char('/'))) >= 0) {
        const QString component = rest.left(slash).toString();
        rest = rest.mid(slash + 1);
        QHash<QString, int>& children = childrenOf(level);
        const auto found = children.constFind(component);
        if (found != children.cend()) {
            level = *found;
            continue;
        }
        const int id = int(m_levels.size());
        children.insert(component, id);
        m_levels.emplace_back();
        created(id, level, component, -1);
        level = id;
    }
    if (!isFileName(rest))
        return;
    const QString name = rest.toString();
    QHash<QString, int>& children = childrenOf(level);
    if (children.contains(name))
        return;
    const int id = int(m_levels.size());
    children.insert(name, id);
    m_levels.emplace_back();
    created(id, level, name, recordIndex);
}
