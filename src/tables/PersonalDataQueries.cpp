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


void registerMessageFunctions(const QSqlDatabase& db)
{
    registerBlobTextFunction(db, "attributed_body_text", attributedBodyText);
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
    // date counts Unix seconds; "localtime" shows it as the computer's clock does. The left join
    // keeps the calls of numbers that are in nobody's card (id -1).
    static const QString columns =
        QStringLiteral("select call.rowid AS \"Row\",address AS \"Number\","
                       "strftime('%Y-%m-%d %H:%M:%S',date,'unixepoch','localtime') AS \"Date\","
                       "duration AS \"Duration\",flags AS \"Flags\",id AS \"Person\",");
    if (contactsDb.isEmpty())
        return {columns +
                QStringLiteral("NULL AS \"First Name\",NULL AS \"Last Name\" from call;")};
    return {attachStatement(contactsDb, QStringLiteral("ab")),
            columns + QStringLiteral("abp.first AS \"First Name\",abp.last AS \"Last Name\" "
                                     "from call left join ab.ABPerson as abp on id=abp.rowid;")};
}

QString contactKey(const QString& address)
{
    const QString trimmed = address.trimmed();
    if (trimmed.contains(QLatin1Char('@')))
        return trimmed.toLower();
    QString digits;
    for (const QChar c : trimmed)
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digits += c;
    if (digits.size() < 3)
        return {};
    // Country and trunk prefixes come and go between a card and a call; the tail stays.
    return digits.right(9);
}

namespace {

void contactKeyFunction(sqlite3_context* context, int, sqlite3_value** values)
{
    const int type = sqlite3_value_type(values[0]);
    if (type == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    // Text and blobs alike: ZADDRESS is declared BLOB and holds the address's UTF-8 bytes.
    const auto* data = reinterpret_cast<const char*>(sqlite3_value_text(values[0]));
    if (!data) {
        sqlite3_result_null(context);
        return;
    }
    const QString key = contactKey(QString::fromUtf8(data, sqlite3_value_bytes(values[0])));
    if (key.isEmpty()) {
        sqlite3_result_null(context);
        return;
    }
    const QByteArray utf8 = key.toUtf8();
    sqlite3_result_text(context, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

// "alias.column" when the table has it, else NULL: the tables differ between iOS versions.
QString column(const QStringList& columns, const char* alias, const char* name)
{
    if (!columns.contains(QLatin1String(name), Qt::CaseInsensitive))
        return QStringLiteral("NULL");
    return QStringLiteral("%1.%2").arg(QLatin1String(alias), QLatin1String(name));
}

// The first present column of names that is not NULL.
QString firstOf(const QStringList& columns, const char* alias,
                std::initializer_list<const char*> names)
{
    QStringList present;
    for (const char* name : names)
        if (columns.contains(QLatin1String(name), Qt::CaseInsensitive))
            present << QStringLiteral("%1.%2").arg(QLatin1String(alias), QLatin1String(name));
    if (present.isEmpty())
        return QStringLiteral("NULL");
    if (present.size() == 1)
        return present.constFirst();
    return QStringLiteral("COALESCE(%1)").arg(present.join(QStringLiteral(", ")));
}

// Seconds since 2001-01-01 UTC in the computer's local time.
QString cocoaDate(const QString& value)
{
    return QStringLiteral("datetime(%1 + 978307200, 'unixepoch', 'localtime')").arg(value);
}

} // namespace

void registerContactFunctions(const QSqlDatabase& db)
{
    if (sqlite3* handle = sqliteHandle(db))
        sqlite3_create_function(handle, "contact_key", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                nullptr, contactKeyFunction, nullptr, nullptr);
}

QString durationExpression(const QString& seconds)
{
    // Concatenated, not arg(): "%02d" would read as a placeholder.
    const QString s = QStringLiteral("CAST(round(") + seconds + QStringLiteral(") AS INTEGER)");
    return QStringLiteral("CASE WHEN ") + seconds +
           QStringLiteral(" IS NULL THEN NULL ELSE printf('%d:%02d:%02d', ") + s +
           QStringLiteral(" / 3600, ") + s + QStringLiteral(" % 3600 / 60, ") + s +
           QStringLiteral(" % 60) END");
}

QStringList callRecordStatements(const QStringList& columns, const QString& contactsDb)
{
    const QString address =
        QStringLiteral("CAST(%1 AS TEXT)").arg(column(columns, "c", "ZADDRESS"));
    const QString provider = column(columns, "c", "ZSERVICE_PROVIDER");
    const QString type = column(columns, "c", "ZCALLTYPE");
    const QString service =
        QStringLiteral(
            "CASE WHEN %1 IS NOT NULL AND %1 NOT IN ('com.apple.Telephony', 'com.apple.FaceTime') "
            "THEN %1 WHEN %2 = 8 THEN 'FaceTime Video' WHEN %2 = 16 THEN 'FaceTime Audio' "
            "WHEN %1 = 'com.apple.FaceTime' THEN 'FaceTime' ELSE 'Phone' END")
            .arg(provider, type);
    const QString direction =
        QStringLiteral("CASE WHEN %1 = 1 THEN 'Outgoing' WHEN %2 = 1 THEN 'Incoming' ELSE "
                       "'Missed' END")
            .arg(column(columns, "c", "ZORIGINATED"), column(columns, "c", "ZANSWERED"));
    const QString kept = column(columns, "c", "ZNAME");

    QStringList statements;
    QString name = kept;
    QString join;
    if (!contactsDb.isEmpty()) {
        // One name per number, found through an indexed table instead of a scan of every card
        // for every call; the earliest card wins where two share a number.
        statements << attachStatement(contactsDb, QStringLiteral("ab"))
                   << QStringLiteral("DROP TABLE IF EXISTS temp.ab_names;")
                   << QStringLiteral("CREATE TEMP TABLE ab_names (k TEXT PRIMARY KEY, name TEXT);")
                   << QStringLiteral(
                          "INSERT OR IGNORE INTO temp.ab_names SELECT contact_key(mv.value), "
                          "COALESCE(NULLIF(trim(ifnull(p.First, '') || ' ' || ifnull(p.Last, '')), "
                          "''), p.Organization) FROM ab.ABMultiValue mv JOIN ab.ABPerson p ON "
                          "p.ROWID = mv.record_id WHERE mv.property IN (3, 4) AND "
                          "contact_key(mv.value) IS NOT NULL ORDER BY p.ROWID, mv.UID;");
        name = QStringLiteral("COALESCE(n.name, %1)").arg(kept);
        join = QStringLiteral(" LEFT JOIN temp.ab_names n ON n.k = contact_key(%1)").arg(address);
    }
    const QString date = column(columns, "c", "ZDATE");
    statements << QStringLiteral("SELECT %1 AS \"Date\", %2 AS \"Number\", %3 AS \"Name\", %4 AS "
                                 "\"Direction\", %5 AS \"Duration\", %6 AS \"Service\" FROM "
                                 "ZCALLRECORD c%7 ORDER BY %8")
                      .arg(cocoaDate(date), address, name, direction,
                           durationExpression(column(columns, "c", "ZDURATION")), service, join,
                           date);
    return statements;
}

QStringList notesStatements()
{
    return {QStringLiteral(
        "SELECT ztitle AS \"Title\", zauthor AS \"Author\", zsummary AS \"Summary\" FROM znote")};
}

QStringList noteStoreStatements(const QStringList& objectColumns, const QStringList& dataColumns)
{
    const QStringList& n = objectColumns;
    const QString locked = column(n, "n", "ZISPASSWORDPROTECTED");
    // Bodies are found from the note (ZNOTEDATA) or, where a model lacks that, from the data.
    QString join;
    QString text = QStringLiteral("NULL");
    if (!dataColumns.isEmpty() &&
        dataColumns.contains(QLatin1String("ZDATA"), Qt::CaseInsensitive)) {
        if (n.contains(QLatin1String("ZNOTEDATA"), Qt::CaseInsensitive))
            join = QStringLiteral(" LEFT JOIN ZICNOTEDATA d ON d.Z_PK = n.ZNOTEDATA");
        else if (dataColumns.contains(QLatin1String("ZNOTE"), Qt::CaseInsensitive))
            join = QStringLiteral(" LEFT JOIN ZICNOTEDATA d ON d.ZNOTE = n.Z_PK");
        if (!join.isEmpty())
            text = QStringLiteral("note_text(d.ZDATA)");
    }
    QString folder = QStringLiteral("NULL");
    if (n.contains(QLatin1String("ZFOLDER"), Qt::CaseInsensitive)) {
        join.prepend(QStringLiteral(" LEFT JOIN ZICCLOUDSYNCINGOBJECT f ON f.Z_PK = n.ZFOLDER"));
        folder = column(n, "f", "ZTITLE2");
    }
    const QString modified = firstOf(n, "n", {"ZMODIFICATIONDATE1", "ZMODIFICATIONDATE"});
    const QString deleted = column(n, "n", "ZMARKEDFORDELETION");
    const QString created =
        cocoaDate(firstOf(n, "n", {"ZCREATIONDATE3", "ZCREATIONDATE1", "ZCREATIONDATE"}));
    return {QStringLiteral("SELECT %1 AS \"Title\", %2 AS \"Folder\", %3 AS \"Created\", %4 AS "
                           "\"Modified\", CASE WHEN %5 = 1 THEN 'Locked' ELSE %6 END AS \"Text\" ")
                .arg(firstOf(n, "n", {"ZTITLE1", "ZTITLE"}), folder, created, cocoaDate(modified),
                     locked, text) +
            QStringLiteral("FROM ZICCLOUDSYNCINGOBJECT n%1 WHERE n.Z_ENT = (SELECT Z_ENT FROM "
                           "Z_PRIMARYKEY WHERE Z_NAME = 'ICNote') AND ifnull(%2, 0) = 0 ORDER BY "
                           "%3 DESC")
                .arg(join, deleted, modified)};
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
    // Birthdays are seconds since 2001 kept as text; a date has no time of day or zone, so
    // it is read in UTC, where the phone wrote it.
    return {QStringLiteral(
        "SELECT p.Prefix AS \"Prefix\", p.Suffix AS \"Suffix\", p.First AS \"First Name\", "
        "p.Middle AS \"Middle Name\", p.Last AS \"Last Name\", mv.value AS \"Phone / E-mail\", "
        "p.Note AS \"Note\", p.Nickname AS \"Nickname\", p.Organization AS \"Organization\", "
        "p.Department AS \"Department\", p.JobTitle AS \"Job Title\", "
        "CASE WHEN p.Birthday IS NULL OR trim(p.Birthday) = '' THEN NULL "
        "WHEN typeof(p.Birthday) IN ('integer', 'real') OR trim(p.Birthday) GLOB "
        "'[0-9-]*[0-9]*' THEN date(CAST(p.Birthday AS REAL) + 978307200, 'unixepoch') "
        "ELSE p.Birthday END AS \"Birthday\" "
        "FROM ABPerson p LEFT JOIN ABMultiValue mv ON mv.record_id = p.ROWID")};
}
