#include "app/FileTreeModel.h"

#include "app/FileTreeShape.h"

TFileTreeModel::TFileTreeModel(QObject* parent) : QAbstractItemModel(parent)
{
    m_first.assign(2, 0);
}

void TFileTreeModel::setTree(const TFileTreeShape* shape, TreePathOf treePathOf)
{
    beginResetModel();
    m_shape = shape;
    m_treePathOf = std::move(treePathOf);
    const size_t count = shape ? size_t(shape->nodeCount()) : 0;
    // Children by parent, in id order, which is the order they were appended in.
    m_first.assign(count + 2, 0);
    for (size_t id = 0; id < count; ++id)
        ++m_first[size_t(shape->parentOf(int(id)) + 2)];
    for (size_t i = 1; i < m_first.size(); ++i)
        m_first[i] += m_first[i - 1];
    m_children.assign(count, 0);
    m_row.assign(count, 0);
    std::vector<quint32> next(m_first.begin(), m_first.end() - 1);
    for (size_t id = 0; id < count; ++id) {
        const size_t slot = size_t(shape->parentOf(int(id)) + 1);
        m_row[id] = next[slot] - m_first[slot];
        m_children[next[slot]++] = quint32(id);
    }
    m_checks.assign(count, quint8(Qt::Unchecked));
    endResetModel();
}

void TFileTreeModel::reset()
{
    setTree(nullptr, {});
}

void TFileTreeModel::setHeaderText(const QString& text)
{
    m_header = text;
    emit headerDataChanged(Qt::Horizontal, 0, 0);
}

QModelIndex TFileTreeModel::indexOfNode(int node) const
{
    return node < 0 ? QModelIndex() : createIndex(int(m_row[size_t(node)]), 0, quintptr(node));
}

QModelIndex TFileTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    const int node = nodeOf(parent);
    if (column != 0 || row < 0 || row >= childCount(node))
        return {};
    return createIndex(row, 0, quintptr(m_children[m_first[size_t(node + 1)] + quint32(row)]));
}

QModelIndex TFileTreeModel::parent(const QModelIndex& child) const
{
    const int node = nodeOf(child);
    return node < 0 ? QModelIndex() : indexOfNode(m_shape->parentOf(node));
}

int TFileTreeModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0)
        return 0;
    return childCount(nodeOf(parent));
}

int TFileTreeModel::columnCount(const QModelIndex&) const
{
    return 1;
}

bool TFileTreeModel::hasChildren(const QModelIndex& parent) const
{
    return rowCount(parent) > 0;
}

QVariant TFileTreeModel::data(const QModelIndex& index, int role) const
{
    const int node = nodeOf(index);
    if (node < 0)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return m_shape->textOf(node).toString();
    case Qt::CheckStateRole:
        return int(m_checks[size_t(node)]);
    case kRecordIndexRole: {
        const int record = m_shape->recordOf(node);
        return record >= 0 ? QVariant(record) : QVariant();
    }
    case kTreePathRole: {
        const int record = m_shape->recordOf(node);
        return record >= 0 && m_treePathOf ? QVariant(m_treePathOf(record)) : QVariant();
    }
    default:
        return {};
    }
}

bool TFileTreeModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || nodeOf(index) < 0)
        return false;
    setCheckedRecursive(index, Qt::CheckState(value.toInt()));
    return true;
}

void TFileTreeModel::setCheckedRecursive(const QModelIndex& index, Qt::CheckState state)
{
    const int top = nodeOf(index);
    if (top < 0)
        return;
    // Depth first without recursion: a hostile catalog can nest folders thousands deep.
    std::vector<int> folders{top};
    std::vector<int> pending{top};
    while (!pending.empty()) {
        const int node = pending.back();
        pending.pop_back();
        m_checks[size_t(node)] = quint8(state);
        for (quint32 i = m_first[size_t(node + 1)]; i < m_first[size_t(node + 2)]; ++i) {
            const int child = int(m_children[i]);
            if (childCount(child) > 0) {
                folders.push_back(child);
                pending.push_back(child);
            } else {
                m_checks[size_t(child)] = quint8(state);
            }
        }
    }
    // One signal per folder for all its rows, children before their parent.
    const QList<int> roles{Qt::CheckStateRole};
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        const int count = childCount(*it);
        if (count > 0) {
            const QModelIndex parent = indexOfNode(*it);
            emit dataChanged(this->index(0, 0, parent), this->index(count - 1, 0, parent), roles);
        }
    }
    emit dataChanged(index, index, roles);
}

Qt::ItemFlags TFileTreeModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

QVariant TFileTreeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return m_header;
    return {};
}
