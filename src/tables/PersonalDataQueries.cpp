#include "tables/PersonalDataQueries.h"

#include "tables/AttributedBody.h"
#include "util/Sqlite.h"

#include <QSqlDatabase>

#include <sqlite3.h>

QStringList smsStatements(bool withAttributedBody)
{
    // Above 1e11 a date counts nanoseconds (no second count since 2001 gets there before 5170).
    const QString text = withAttributedBody
                             ? QStringLiteral("COALESCE(message.text, "
                                              "attributed_body_text(message.attributedBody))")
                             : QStringLiteral("message.text");
    return {QStringLiteral(
                "SELECT CASE WHEN message.date IS NULL OR message.date = 0 THEN NULL ELSE "
                "datetime(CASE WHEN abs(message.date) > 100000000000 THEN message.date / "
                "1000000000 ELSE message.date END + 978307200, 'unixepoch', 'localtime') END "
                "AS \"Date\", handle.id AS \"Number\", %1 AS \"Text\" FROM message, handle "
                "WHERE message.handle_id = handle.ROWID")
                .arg(text)};
}

namespace {

void attributedBodyTextFunction(sqlite3_context* context, int, sqlite3_value** values)
{
    if (sqlite3_value_type(values[0]) != SQLITE_BLOB) {
        sqlite3_result_null(context);
        return;
    }
    const auto* data = static_cast<const char*>(sqlite3_value_blob(values[0]));
    const int size = sqlite3_value_bytes(values[0]);
    const std::optional<QString> text = attributedBodyText(QByteArrayView(data, size));
    if (!text) {
        sqlite3_result_null(context);
        return;
    }
    const QByteArray utf8 = text->toUtf8();
    sqlite3_result_text(context, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

} // namespace

void registerMessageFunctions(const QSqlDatabase& db)
{
    if (sqlite3* handle = sqliteHandle(db))
        sqlite3_create_function(handle, "attributed_body_text", 1,
                                SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                attributedBodyTextFunction, nullptr, nullptr);
}

QString attachStatement(const QString& path, const QString& schema)
{
    // A plain path would attach without "immutable" and could leave -wal and -shm files in the
    // backup folder; the connection takes URI file names.
    QString uri = readOnlyUri(path);
    uri.replace(QLatin1Char('\''), QLatin1String("''"));
    return QStringLiteral("attach '%1' as %2;").arg(uri, schema);
}

QStringList callHistoryStatements(const QString& contactsDb)
{
    return {attachStatement(contactsDb, QStringLiteral("ab")),
            QStringLiteral("select call.rowid,address,strftime('%Y-%m-%d %H:%M:%S',date-10800,"
                           "'unixepoch'),duration,flags,id,abp.first,abp.last from call,"
                           "ab.ABPerson as abp where id=abp.rowid;")};
}

QStringList notesStatements()
{
    return {QStringLiteral("SELECT ztitle, zauthor, zsummary FROM znote")};
}

QStringList calendarStatements()
{
    // Event times count seconds from 2001-01-01 UTC (978307200 in Unix time).
    return {QStringLiteral(
        "SELECT CalendarItem.summary AS \"Title\", Location.title AS \"Location\", "
        "datetime(CalendarItem.start_date + 978307200, 'unixepoch', 'localtime') AS \"Start\", "
        "datetime(CalendarItem.end_date + 978307200, 'unixepoch', 'localtime') AS \"End\", "
        "CalendarItem.description AS \"Description\" "
        "FROM CalendarItem LEFT JOIN Location ON Location.ROWID = CalendarItem.location_id")};
}

QStringList contactStatements()
{
    return {QStringLiteral(
        "select ABPerson.prefix,ABPerson.suffix, ABPerson.first,ABPerson.middle,ABPerson.last, "
        "ABMultiValue.value, ABPerson.note, ABPerson.nickname, ABPerson.organization, "
        "ABPerson.department, ABPerson.jobtitle, ABPerson.birthday from ABPerson,ABMultiValue "
        "where ABMultiValue.record_id=ABPerson.ROWID")};
}
