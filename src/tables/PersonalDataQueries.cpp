#include "tables/PersonalDataQueries.h"

#include "util/Sqlite.h"

QStringList smsStatements()
{
    return {QStringLiteral(
        "SELECT datetime(message.date, 'unixepoch', '+31 years', '-6 hours'), handle.id, "
        "message.text FROM message, handle WHERE message.handle_id = handle.ROWID")};
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
