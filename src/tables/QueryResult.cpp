#include "tables/QueryResult.h"

#include "app/DmGlobal.h"
#include "util/Error.h"
#include "util/Sqlite.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <climits>

QString cellText(const QVariant& value)
{
    return value.isNull() ? QString() : value.toString();
}

void runStatements(TdmGlobal& dm, const QString& db, const QStringList& statements,
                   QueryResult& result)
{
    if (statements.isEmpty())
        throw Error(QStringLiteral("no statement to run on %1").arg(db));
    dm.openDatabase(db);
    QSqlQuery& query = dm.qrySQL;
    for (qsizetype i = 0; i + 1 < statements.size(); ++i) {
        if (!query.exec(statements[i]))
            throw Error(describeSqlError(query.lastError(), db));
    }
    if (!query.exec(statements.constLast()))
        throw Error(describeSqlError(query.lastError(), db));

    const QSqlRecord record = query.record();
    const int columns = record.count();
    for (int c = 0; c < columns; ++c)
        result.columns.append(record.fieldName(c));
    if (columns == 0)
        return;
    while (query.next()) {
        for (int c = 0; c < columns; ++c)
            result.cells.push_back(cellText(query.value(c)));
    }
    if (query.lastError().isValid())
        throw Error(describeSqlError(query.lastError(), db));
}

void QueryResultModel::setResult(QueryResult result)
{
    beginResetModel();
    m_result = std::move(result);
    endResetModel();
}

int QueryResultModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return int(std::min<qsizetype>(m_result.rowCount(), INT_MAX));
}

int QueryResultModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_result.columns.size());
}

QVariant QueryResultModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    // A cell shows one line: a text of several lines would be cut at its first line break.
    // The whole text is in the pane below the table and in the CSV.
    const QString& text = m_result.cell(index.row(), index.column());
    if (!text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString line = text;
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return line;
}

QVariant QueryResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= m_result.columns.size())
        return {};
    return headerText ? headerText(m_result.columns[section]) : m_result.columns[section];
}
