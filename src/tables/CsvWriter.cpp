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
    addLine(fields.constData(), fields.size());
}

void CsvWriter::addLine(const QString* fields, qsizetype count)
{
    for (qsizetype i = 0; i < count; ++i) {
        if (i > 0)
            m_text.append(QLatin1Char(','));
        appendField(fields[i]);
    }
    m_text.append(QLatin1String("\r\n"));
}

void CsvWriter::appendField(const QString& field)
{
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
    QStringList line;
    for (int c = 0; c < columns; ++c)
        line.append(record.fieldName(c));
    CsvWriter csv;
    csv.addLine(line);
    while (query.next()) {
        for (int c = 0; c < columns; ++c)
            line[c] = cellText(query.value(c));
        csv.addLine(line);
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
