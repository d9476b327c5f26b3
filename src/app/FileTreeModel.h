#pragma once

#include <QAbstractItemModel>

#include <functional>
#include <vector>

class TFileTreeShape;

// The checkable file tree of the Main page over the nodes of a TFileTreeShape: one column, a
// node's text, its check mark and, for a file node, its record index and tree path. Holds a
// few integers per node instead of an item object, so a million nodes cost tens of megabytes;
// the texts stay in the shape, the tree paths are made from the records when asked for.
//
// Checking or unchecking a node marks every node below it too, children before the node.
class TFileTreeModel final : public QAbstractItemModel
{
    Q_OBJECT

public:
    static constexpr int kRecordIndexRole = Qt::UserRole;  // a file node's record index
    static constexpr int kTreePathRole = Qt::UserRole + 1; // a file node's tree path

    using TreePathOf = std::function<QString(int record)>;

    explicit TFileTreeModel(QObject* parent = nullptr);

    // Shows the nodes of shape, which must stay unchanged until the next setTree or reset.
    void setTree(const TFileTreeShape* shape, TreePathOf treePathOf);
    // Shows nothing.
    void reset();

    void setHeaderText(const QString& text);
    // Sets the mark of index and of every node below it.
    void setCheckedRecursive(const QModelIndex& index, Qt::CheckState state);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    int nodeOf(const QModelIndex& index) const { return index.isValid() ? int(index.internalId()) : -1; }
    // Children of node (-1: the top level) are m_children[m_first[node + 1] .. m_first[node + 2]).
    int childCount(int node) const { return int(m_first[size_t(node + 2)] - m_first[size_t(node + 1)]); }
    QModelIndex indexOfNode(int node) const;

    const TFileTreeShape* m_shape = nullptr;
    TreePathOf m_treePathOf;
    std::vector<quint32> m_first;    // nodeCount + 2 entries
    std::vector<quint32> m_children; // node ids, grouped by parent, in creation order
    std::vector<quint32> m_row;      // by node id: its row under its parent
    std::vector<quint8> m_checks;    // by node id: Qt::CheckState
    QString m_header;
};
