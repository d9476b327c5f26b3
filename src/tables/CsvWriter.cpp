#include "tables/CsvWriter.h"

#include "tables/QueryResult.h"
#include "util/Error.h"

#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

CsvWriter::CsvWriter()
{
    m_text.append(QChar(0xfeff)); // UTF-8 byte-order mark once encoded
}

void CsvWriter::addLine(const QStringList& fields)
{
    for (const QString& field : fields)
        addField(field);
    endLine();
}

void CsvWriter::addField(const QString& field)
{
    if (m_lineStarted)
        m_text.append(QLatin1Char(','));
    m_lineStarted = true;
    bool quote = false;
    for (const QChar c : field) {
        const char16_t u = c.unicode();
        if (u == u',' || u == u'"' || u == u'\r' || u == u'\n') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        m_text.append(field);
        return;
    }
    m_text.append(QLatin1Char('"'));
    for (const QChar c : field) {
        if (c == QLatin1Char('"'))
            m_text.append(QLatin1Char('"'));
        m_text.append(c);
    }
    m_text.append(QLatin1Char('"'));
}

void CsvWriter::endLine()
{
    m_text.append(QLatin1String("\r\n"));
    m_lineStarted = false;
}

QByteArray CsvWriter::bytes() const
{
    return m_text.toUtf8();
}

QByteArray queryToCsv(QSqlQuery& query, const QString& statement)
{
    if (!query.exec(statement))
        throw Error(query.lastError().text());
    const QSqlRecord record = query.record();
    const int columns = record.count();
    CsvWriter csv;
    for (int c = 0; c < columns; ++c)
        csv.addField(record.fieldName(c));
    csv.endLine();
    while (query.next()) {
        for (int c = 0; c < columns; ++c)
            csv.addField(cellText(query.value(c)));
        csv.endLine();
    }
    if (query.lastError().isValid())
        throw Error(query.lastError().text());
    return csv.bytes();
}

void writeFileReplacing(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    if (file.write(bytes) != bytes.size() || !file.commit())
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
}
