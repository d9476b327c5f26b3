#include "tables/CsvWriter.h"

#include "tables/QueryResult.h"
#include "util/Error.h"

#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>
#include <QLocale>
#include <QSqlDriver>

#include <sqlite3.h>

#include <memory>

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

namespace {

sqlite3* sqliteOf(const QSqlQuery& query)
{
    const QVariant handle = query.driver() ? query.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.constData());
}

// One field as addField writes it, from its UTF-8 bytes: the characters that call for quotes
// are all ASCII, so the bytes tell as well as the text.
void appendField(QByteArray& out, QByteArrayView field, bool first)
{
    if (!first)
        out.append(',');
    bool quote = false;
    for (const char c : field)
        quote |= c == ',' || c == '"' || c == '\r' || c == '\n';
    if (!quote) {
        out.append(field);
        return;
    }
    out.append('"');
    for (;;) {
        const qsizetype at = field.indexOf('"');
        if (at < 0)
            break;
        out.append(field.first(at + 1)).append('"');
        field = field.sliced(at + 1);
    }
    out.append(field).append('"');
}

// The statement straight through SQLite, each cell written as the table shows it (cellText of
// the value Qt's driver makes: integers in decimal, reals shortest, text and blobs as UTF-8,
// null empty), without a QVariant and a QString per cell.
void streamSqlite(sqlite3* handle, const QString& statement, QIODevice& file)
{
    sqlite3_stmt* raw = nullptr;
    const QByteArray sql = statement.toUtf8();
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(handle, sql.constData(), int(sql.size()), &raw, &tail) != SQLITE_OK)
        throw Error(QString::fromUtf8(sqlite3_errmsg(handle)));
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, sqlite3_finalize);
    if (!stmt || !QByteArrayView(tail, sql.constData() + sql.size() - tail).trimmed().isEmpty())
        throw Error(QStringLiteral("Unable to execute multiple statements at a time"));

    QByteArray out("\xef\xbb\xbf");
    constexpr qsizetype kBlock = 1024 * 1024;
    out.reserve(kBlock + 64 * 1024);
    auto flush = [&file, &out] {
        if (file.write(out) != out.size())
            throw Error(file.errorString());
        out.resize(0);
    };
    const int columns = sqlite3_column_count(stmt.get());
    for (int c = 0; c < columns; ++c)
        appendField(out, QString::fromUtf8(sqlite3_column_name(stmt.get(), c)).toUtf8(), c == 0);
    out.append("\r\n");
    QByteArray converted;
    for (;;) {
        const int rc = sqlite3_step(stmt.get());
        if (rc == SQLITE_DONE)
            break;
        if (rc != SQLITE_ROW)
            throw Error(QString::fromUtf8(sqlite3_errmsg(handle)));
        for (int c = 0; c < columns; ++c) {
            QByteArrayView field;
            switch (sqlite3_column_type(stmt.get(), c)) {
            case SQLITE_NULL:
                break;
            case SQLITE_INTEGER:
                converted.setNum(sqlite3_column_int64(stmt.get(), c));
                field = converted;
                break;
            case SQLITE_FLOAT:
                converted = QString::number(sqlite3_column_double(stmt.get(), c), 'g',
                                            QLocale::FloatingPointShortest)
                                .toLatin1();
                field = converted;
                break;
            default: { // text and blobs: their bytes where they are UTF-8, else as Qt decodes them
                const bool blob = sqlite3_column_type(stmt.get(), c) == SQLITE_BLOB;
                const void* data =
                    blob ? sqlite3_column_blob(stmt.get(), c) : sqlite3_column_text(stmt.get(), c);
                field = QByteArrayView(static_cast<const char*>(data),
                                       sqlite3_column_bytes(stmt.get(), c));
                if (!field.isValidUtf8()) {
                    converted = blob ? QString::fromUtf8(field).toUtf8()
                                     : QString(reinterpret_cast<const QChar*>(
                                                   sqlite3_column_text16(stmt.get(), c)),
                                               sqlite3_column_bytes16(stmt.get(), c) / 2)
                                           .toUtf8();
                    field = converted;
                }
                break;
            }
            }
            appendField(out, field, c == 0);
        }
        out.append("\r\n");
        if (out.size() >= kBlock)
            flush();
    }
    flush();
}

} // namespace

void saveQueryAsCsv(QSqlQuery& query, const QString& statement, const QString& path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    try {
        if (sqlite3* handle = sqliteOf(query)) {
            streamSqlite(handle, statement, file);
        } else {
            CsvWriter csv(&file);
            writeQuery(query, statement, csv);
            csv.finish();
        }
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
