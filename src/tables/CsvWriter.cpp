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

CsvWriter::CsvWriter(QIODevice* out) : CsvWriter()
{
    m_out = out;
}

void CsvWriter::flushIfLarge()
{
    if (m_out && m_text.size() >= 512 * 1024)
        finish();
}

void CsvWriter::finish()
{
    if (!m_out || m_text.isEmpty())
        return;
    const QByteArray utf8 = m_text.toUtf8();
    if (m_out->write(utf8) != utf8.size())
        throw Error(m_out->errorString());
    m_text.clear();
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
    flushIfLarge();
}

QByteArray CsvWriter::bytes() const
{
    return m_text.toUtf8();
}

namespace {

void writeQuery(QSqlQuery& query, const QString& statement, CsvWriter& csv)
{
    if (!query.exec(statement))
        throw Error(query.lastError().text());
    const QSqlRecord record = query.record();
    const int columns = record.count();
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
}

} // namespace

QByteArray queryToCsv(QSqlQuery& query, const QString& statement)
{
    CsvWriter csv;
    writeQuery(query, statement, csv);
    return csv.bytes();
}

void saveQueryAsCsv(QSqlQuery& query, const QString& statement, const QString& path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    try {
        CsvWriter csv(&file);
        writeQuery(query, statement, csv);
        csv.finish();
    } catch (const Error& e) {
        file.cancelWriting();
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, e.message()));
    }
    if (!file.commit())
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
}

void writeFileReplacing(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    if (file.write(bytes) != bytes.size() || !file.commit())
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
}
