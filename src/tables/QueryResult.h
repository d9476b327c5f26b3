#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include <functional>
#include <vector>

class QVariant;
class TdmGlobal;

// A query's result as text: the column display names and the cells row by row.
struct QueryResult
{
    QStringList columns;
    std::vector<QString> cells; // row-major, columns.size() per row

    qsizetype rowCount() const
    {
        return columns.isEmpty() ? 0 : qsizetype(cells.size()) / columns.size();
    }
    const QString& cell(qsizetype row, qsizetype column) const
    {
        return cells[row * columns.size() + column];
    }
};

// The text a value shows as, in the table and in the CSV: NULL is empty text.
QString cellText(const QVariant& value);

// Points dm's shared connection at db (read-only, immutable), runs every statement but the last
// as a command and the last as the query, which stays open in dm.qrySQL. Columns and rows go into
// result as they are read, so after a failure it holds what was read before it.
// Throws an Error with a readable message when opening, a statement or reading a row fails.
void runStatements(TdmGlobal& dm, const QString& db, const QStringList& statements,
                   QueryResult& result);

// Shows a QueryResult read-only: one column per result column, headed by its display name;
// line breaks inside a cell show as spaces.
class QueryResultModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QueryResultModel)

public:
    explicit QueryResultModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    void setResult(QueryResult result);
    // The header a column's display name shows as (its translation); the name when unset.
    std::function<QString(const QString& name)> headerText;
    const QueryResult& result() const { return m_result; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QueryResult m_result;
};
