#include "PhoneDatabases.h"

#include "SampleBackup.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <QVariant>

#include <stdexcept>

namespace {

[[noreturn]] void fail(const QString& message)
{
    throw std::runtime_error(message.toStdString());
}

// Builds one SQLite file in a temporary folder and hands back its bytes.
class DatabaseBuilder final
{
public:
    explicit DatabaseBuilder(bool wal)
        : m_name(QStringLiteral("phonedb-%1").arg(QUuid::createUuid().toString()))
    {
        if (!m_dir.isValid())
            fail(QStringLiteral("cannot create a temporary folder"));
        m_file = QDir(m_dir.path()).filePath(QStringLiteral("db.sqlite"));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(m_file);
        if (!db.open())
            fail(QStringLiteral("cannot create %1: %2").arg(m_file, db.lastError().text()));
        // Devices keep these databases in WAL mode; a reader must not leave -wal/-shm files.
        if (wal)
            exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        db.transaction();
    }

    ~DatabaseBuilder()
    {
        if (QSqlDatabase::contains(m_name)) {
            QSqlDatabase::database(m_name, false).close();
            QSqlDatabase::removeDatabase(m_name);
        }
    }

    DatabaseBuilder(const DatabaseBuilder&) = delete;
    DatabaseBuilder& operator=(const DatabaseBuilder&) = delete;

    void exec(const QString& sql)
    {
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        if (!q.exec(sql))
            fail(QStringLiteral("%1: %2").arg(sql, q.lastError().text()));
    }

    // One row per entry of rows, bound in order to the placeholders of sql.
    void insert(const QString& sql, const QList<QVariantList>& rows)
    {
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        if (!q.prepare(sql))
            fail(QStringLiteral("%1: %2").arg(sql, q.lastError().text()));
        for (const QVariantList& row : rows) {
            for (const QVariant& value : row)
                q.addBindValue(value);
            if (!q.exec())
                fail(QStringLiteral("%1: %2").arg(sql, q.lastError().text()));
        }
    }

    QSqlDatabase database() const { return QSqlDatabase::database(m_name, false); }

    QByteArray finish()
    {
        {
            QSqlDatabase db = database();
            if (!db.commit())
                fail(db.lastError().text());
            db.close(); // checkpoints and removes the -wal file
        }
        QSqlDatabase::removeDatabase(m_name);
        QFile file(m_file);
        if (!file.open(QIODevice::ReadOnly))
            fail(QStringLiteral("cannot read %1: %2").arg(m_file, file.errorString()));
        return file.readAll();
    }

private:
    QTemporaryDir m_dir;
    QString m_name;
    QString m_file;
};

const QVariant kNull = QVariant(QMetaType::fromType<QString>());

} // namespace

namespace PhoneDatabases {

QByteArray sms(int extraMessages)
{
    DatabaseBuilder b(true);
    b.exec(QStringLiteral(
        "CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, id TEXT NOT NULL, "
        "country TEXT, service TEXT NOT NULL, uncanonicalized_id TEXT, UNIQUE (id, service))"));
    b.exec(QStringLiteral(
        "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, "
        "text TEXT, replace INTEGER DEFAULT 0, service_center TEXT, handle_id INTEGER DEFAULT 0, "
        "subject TEXT, country TEXT, attributedBody BLOB, version INTEGER DEFAULT 0, "
        "type INTEGER DEFAULT 0, service TEXT, account TEXT, error INTEGER DEFAULT 0, "
        "date INTEGER, date_read INTEGER, date_delivered INTEGER, is_delivered INTEGER DEFAULT 0, "
        "is_finished INTEGER DEFAULT 0, is_from_me INTEGER DEFAULT 0, is_read INTEGER DEFAULT 0, "
        "cache_has_attachments INTEGER DEFAULT 0)"));
    b.exec(QStringLiteral("CREATE INDEX message_idx_handle ON message(handle_id, date)"));
    // The conversations: one chat per correspondent and a group without a name.
    b.exec(QStringLiteral(
        "CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, "
        "style INTEGER, state INTEGER, account_id TEXT, properties BLOB, chat_identifier TEXT, "
        "service_name TEXT, room_name TEXT, account_login TEXT, is_archived INTEGER DEFAULT 0, "
        "last_addressed_handle TEXT, display_name TEXT, group_id TEXT)"));
    b.exec(QStringLiteral("CREATE TABLE chat_handle_join (chat_id INTEGER, handle_id INTEGER, "
                          "UNIQUE(chat_id, handle_id))"));
    b.exec(QStringLiteral("CREATE TABLE chat_message_join (chat_id INTEGER, message_id INTEGER, "
                          "PRIMARY KEY (chat_id, message_id))"));
    b.insert(QStringLiteral("INSERT INTO chat (ROWID, guid, style, chat_identifier, service_name) "
                            "VALUES (?, ?, ?, ?, ?)"),
             {{1, QStringLiteral("SMS;-;+8613800138000"), 45, QStringLiteral("+8613800138000"),
               QStringLiteral("SMS")},
              {2, QStringLiteral("SMS;-;+14155550123"), 45, QStringLiteral("+14155550123"),
               QStringLiteral("SMS")},
              {3, QStringLiteral("iMessage;-;zoe.mueller@example.de"), 45,
               QStringLiteral("zoe.mueller@example.de"), QStringLiteral("iMessage")},
              {4, QStringLiteral("iMessage;+;chat480313"), 43, QStringLiteral("chat480313"),
               QStringLiteral("iMessage")}});
    b.exec(QStringLiteral("INSERT INTO chat_handle_join VALUES (1, 1), (2, 2), (3, 3), (4, 1), "
                          "(4, 3)"));
    b.insert(QStringLiteral("INSERT INTO handle (ROWID, id, country, service) VALUES (?, ?, ?, ?)"),
             {{1, QStringLiteral("+8613800138000"), QStringLiteral("cn"), QStringLiteral("SMS")},
              {2, QStringLiteral("+14155550123"), QStringLiteral("us"), QStringLiteral("SMS")},
              {3, QStringLiteral("zoe.mueller@example.de"), QStringLiteral("de"),
               QStringLiteral("iMessage")}});
    const QString insert =
        QStringLiteral("INSERT INTO message (guid, text, handle_id, service, date, is_from_me, "
                       "cache_has_attachments) VALUES (?, ?, ?, ?, ?, ?, ?)");
    // Dates count seconds from 2001-01-01, as iOS 6 to 10 store them.
    b.insert(insert,
             {{QStringLiteral("A1F0C3E2-0001"), QStringLiteral("Happy new millennium!"), 2,
               QStringLiteral("SMS"), 0, 0, 0},
              {QStringLiteral("A1F0C3E2-0002"), QStringLiteral("晚上一起吃饭吗？"), 1,
               QStringLiteral("SMS"), 409000000, 0, 0},
              {QStringLiteral("A1F0C3E2-0003"), QStringLiteral("好的，七点见 😊"), 1,
               QStringLiteral("SMS"), 409000310, 1, 0},
              {QStringLiteral("A1F0C3E2-0004"), QStringLiteral("Milk, eggs, bread\nand coffee"), 3,
               QStringLiteral("iMessage"), 420000000, 0, 0},
              {QStringLiteral("A1F0C3E2-0005"), kNull, 1, QStringLiteral("SMS"), 430000000, 0, 1},
              {QStringLiteral("A1F0C3E2-0006"), QStringLiteral("She said \"on my way\""), 2,
               QStringLiteral("SMS"), 440000000, 0, 0},
              // Sent to a group chat: no handle, so no row in the table.
              {QStringLiteral("A1F0C3E2-0007"), QStringLiteral("See you all tomorrow"), 0,
               QStringLiteral("iMessage"), 450000000, 1, 0}});
    // Each message in its handle's chat, the one without a handle in the group.
    b.exec(QStringLiteral("INSERT INTO chat_message_join SELECT CASE WHEN handle_id = 0 THEN 4 "
                          "ELSE handle_id END, ROWID FROM message"));
    if (extraMessages > 0) {
        QSqlQuery q(b.database());
        if (!q.prepare(insert))
            fail(q.lastError().text());
        for (int i = 0; i < extraMessages; ++i) {
            q.addBindValue(QStringLiteral("B2E1D4F3-%1").arg(i));
            q.addBindValue(QStringLiteral("Message %1: running late, be there in %2 minutes")
                               .arg(i)
                               .arg(i % 60));
            q.addBindValue(1 + i % 3);
            q.addBindValue(QStringLiteral("SMS"));
            q.addBindValue(460000000 + i * 61);
            q.addBindValue(i % 2);
            q.addBindValue(0);
            if (!q.exec())
                fail(q.lastError().text());
        }
        b.exec(QStringLiteral("INSERT INTO chat_message_join SELECT handle_id, ROWID FROM "
                              "message WHERE guid LIKE 'B2E1D4F3-%'"));
    }
    return b.finish();
}

QByteArray addressBook()
{
    DatabaseBuilder b(true);
    b.exec(QStringLiteral(
        "CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, First TEXT, Last TEXT, "
        "Middle TEXT, FirstPhonetic TEXT, MiddlePhonetic TEXT, LastPhonetic TEXT, "
        "Organization TEXT, Department TEXT, Note TEXT, Kind INTEGER, Birthday TEXT, "
        "JobTitle TEXT, Nickname TEXT, Prefix TEXT, Suffix TEXT, FirstSort TEXT, LastSort TEXT, "
        "CreationDate INTEGER, ModificationDate INTEGER, CompositeNameFallback TEXT)"));
    b.exec(QStringLiteral("CREATE TABLE ABMultiValue (UID INTEGER PRIMARY KEY, record_id INTEGER, "
                          "property INTEGER, identifier INTEGER, label INTEGER, value TEXT)"));
    b.exec(QStringLiteral("CREATE TABLE ABMultiValueLabel (value TEXT, UNIQUE(value))"));
    b.insert(QStringLiteral("INSERT INTO ABMultiValueLabel (rowid, value) VALUES (?, ?)"),
             {{1, QStringLiteral("_$!<Mobile>!$_")},
              {2, QStringLiteral("_$!<Home>!$_")},
              {3, QStringLiteral("_$!<Work>!$_")}});
    b.insert(
        QStringLiteral(
            "INSERT INTO ABPerson (ROWID, Prefix, Suffix, First, Middle, Last, Note, Nickname, "
            "Organization, Department, JobTitle, Birthday, Kind, CreationDate, "
            "ModificationDate) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 0, ?, ?)"),
        {{1, kNull, kNull, QStringLiteral("伟"), kNull, QStringLiteral("张"), kNull,
          QStringLiteral("小张"), QStringLiteral("深圳星河科技有限公司"), kNull,
          QStringLiteral("工程师"), QStringLiteral("-599616000"), 400000000, 400000000},
         {2, QStringLiteral("Dr."), QStringLiteral("Jr."), QStringLiteral("Zoë"),
          QStringLiteral("Anne"), QStringLiteral("Müller-Lüdenscheid"),
          QStringLiteral("Met at the fair, hall 3\nLikes green tea"), kNull,
          QStringLiteral("Acme, Inc."), QStringLiteral("R&D"),
          QStringLiteral("Head of \"Research\""), kNull, 410000000, 415000000},
         // Nobody to call: no multi-value entry, so no row in the contacts table.
         {3, kNull, kNull, QStringLiteral("Olaf"), kNull, QStringLiteral("Ohnenummer"), kNull,
          kNull, kNull, kNull, kNull, kNull, 420000000, 420000000}});
    // property 3 is a phone number, 4 an e-mail address.
    b.insert(QStringLiteral("INSERT INTO ABMultiValue (UID, record_id, property, identifier, "
                            "label, value) VALUES (?, ?, ?, ?, ?, ?)"),
             {{1, 1, 3, 0, 1, QStringLiteral("+8613800138000")},
              {2, 1, 3, 1, 2, QStringLiteral("13900139000")},
              {3, 2, 3, 0, 3, QStringLiteral("+49 30 1234567")},
              {4, 2, 4, 0, 3, QStringLiteral("zoe.mueller@example.de")}});
    return b.finish();
}

QByteArray callHistory()
{
    DatabaseBuilder b(false);
    b.exec(QStringLiteral(
        "CREATE TABLE call (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date INTEGER, "
        "duration INTEGER, flags INTEGER, id INTEGER, name TEXT, country_code TEXT, "
        "network_code TEXT, read INTEGER, assisted INTEGER, face_time_data BLOB, "
        "originalAddress TEXT)"));
    // Dates are Unix time; id is the caller's address-book ROWID or -1; flags 5 outgoing, 4
    // incoming.
    b.insert(QStringLiteral("INSERT INTO call (ROWID, address, date, duration, flags, id, "
                            "country_code, read) VALUES (?, ?, ?, ?, ?, ?, ?, 1)"),
             {{1, QStringLiteral("+8613800138000"), 1000000000, 62, 5, 1, QStringLiteral("460")},
              {2, QStringLiteral("+14155550199"), 1400000000, 0, 4, -1, QStringLiteral("310")},
              {3, QStringLiteral("+49 30 1234567"), 1390000000, 305, 4, 2, QStringLiteral("262")},
              {4, QStringLiteral("13900139000"), 1395000000, 17, 5, 1, QStringLiteral("460")}});
    return b.finish();
}

QByteArray notes()
{
    DatabaseBuilder b(false);
    b.exec(QStringLiteral(
        "CREATE TABLE ZNOTE (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
        "ZCONTAINSCJK INTEGER, ZCONTENTTYPE INTEGER, ZDELETEDFLAG INTEGER, ZBODY INTEGER, "
        "ZSTORE INTEGER, ZINTEGERID INTEGER, ZCREATIONDATE TIMESTAMP, ZMODIFICATIONDATE TIMESTAMP, "
        "ZAUTHOR VARCHAR, ZTITLE VARCHAR, ZSUMMARY VARCHAR, ZGUID VARCHAR)"));
    b.exec(QStringLiteral(
        "CREATE TABLE ZNOTEBODY (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
        "ZOWNER INTEGER, ZCONTENT VARCHAR, ZEXTERNALCONTENTREF VARCHAR)"));
    b.insert(
        QStringLiteral("INSERT INTO ZNOTE (Z_PK, Z_ENT, Z_OPT, ZCONTAINSCJK, ZCONTENTTYPE, "
                       "ZDELETEDFLAG, ZBODY, ZCREATIONDATE, ZMODIFICATIONDATE, ZAUTHOR, "
                       "ZTITLE, ZSUMMARY, ZGUID) VALUES (?, 7, 1, ?, 0, 0, ?, ?, ?, ?, ?, ?, ?)"),
        {{1, 0, 1, 400000000.5, 400000100.0, kNull, QStringLiteral("Shopping"),
          QStringLiteral("Milk, eggs\nbread"), QStringLiteral("8C1A-0001")},
         {2, 1, 2, 410000000.0, 410000200.0, QStringLiteral("张伟"), QStringLiteral("会议记录"),
          QStringLiteral("周一上午十点，三楼会议室"), QStringLiteral("8C1A-0002")},
         {3, 0, 3, 420000000.0, 420000000.0, QStringLiteral("zoe.mueller@example.de"),
          QStringLiteral("Empty note"), kNull, QStringLiteral("8C1A-0003")}});
    b.insert(QStringLiteral("INSERT INTO ZNOTEBODY (Z_PK, Z_ENT, Z_OPT, ZOWNER, ZCONTENT) "
                            "VALUES (?, 8, 1, ?, ?)"),
             {{1, 1, QStringLiteral("Shopping<div>Milk, eggs</div><div>bread</div>")},
              {2, 2, QStringLiteral("会议记录<div>周一上午十点，三楼会议室</div>")},
              {3, 3, QStringLiteral("Empty note")}});
    return b.finish();
}

QByteArray calendar()
{
    DatabaseBuilder b(true);
    b.exec(QStringLiteral("CREATE TABLE Calendar (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, "
                          "title TEXT, color TEXT, type TEXT, flags INTEGER)"));
    b.exec(QStringLiteral(
        "CREATE TABLE Location (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, "
        "title TEXT, address TEXT, latitude REAL, longitude REAL, item_owner_id INTEGER)"));
    b.exec(QStringLiteral(
        "CREATE TABLE CalendarItem (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, summary TEXT, "
        "location_id INTEGER, description TEXT, start_date REAL, start_tz TEXT, end_date REAL, "
        "all_day INTEGER, calendar_id INTEGER, orig_item_id INTEGER DEFAULT 0, "
        "orig_date REAL DEFAULT 0, organizer_id INTEGER DEFAULT 0, status INTEGER DEFAULT 0, "
        "url TEXT, unique_identifier TEXT)"));
    b.insert(QStringLiteral("INSERT INTO Calendar (ROWID, title, type, flags) VALUES (?, ?, ?, 0)"),
             {{1, QStringLiteral("Home"), QStringLiteral("Local")},
              {2, QStringLiteral("工作"), QStringLiteral("Local")}});
    b.insert(QStringLiteral("INSERT INTO Location (ROWID, title, address, item_owner_id) "
                            "VALUES (?, ?, ?, ?)"),
             {{1, QStringLiteral("Praxis Dr. Weiß"), QStringLiteral("Hauptstraße 5, Berlin"), 1}});
    // Times count seconds from 2001-01-01 UTC.
    b.insert(QStringLiteral("INSERT INTO CalendarItem (ROWID, summary, location_id, description, "
                            "start_date, start_tz, end_date, all_day, calendar_id, "
                            "unique_identifier) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
             {{1, QStringLiteral("Dentist"), 1, kNull, 500000000.0, QStringLiteral("Europe/Berlin"),
               500003600.0, 0, 1, QStringLiteral("E1-0001")},
              {2, QStringLiteral("家庭聚餐"), 0, QStringLiteral("Bring wine, cake\nand flowers"),
               510000000.0, QStringLiteral("Asia/Shanghai"), 510007200.0, 0, 2,
               QStringLiteral("E1-0002")},
              {3, QStringLiteral("Quarterly review"), 0, kNull, 520000000.0, QStringLiteral("UTC"),
               520001800.0, 0, 2, QStringLiteral("E1-0003")}});
    return b.finish();
}

WalPair withRowsInWal(const QByteArray& db, const QStringList& statements)
{
    QTemporaryDir dir;
    if (!dir.isValid())
        fail(QStringLiteral("cannot create a temporary folder"));
    const QString file = QDir(dir.path()).filePath(QStringLiteral("db.sqlite"));
    {
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(db) != db.size())
            fail(QStringLiteral("cannot write %1").arg(file));
    }
    const QString name = QStringLiteral("walpair-%1").arg(QUuid::createUuid().toString());
    WalPair pair;
    {
        QSqlDatabase conn = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        conn.setDatabaseName(file);
        if (!conn.open())
            fail(conn.lastError().text());
        QSqlQuery q(conn);
        for (const QString& sql : QStringList{QStringLiteral("PRAGMA journal_mode=WAL"),
                                              QStringLiteral("PRAGMA wal_autocheckpoint=0")} +
                                      statements)
            if (!q.exec(sql))
                fail(QStringLiteral("%1: %2").arg(sql, q.lastError().text()));
        q.finish();
        // Read both while the connection is open: closing would checkpoint the rows across.
        for (auto [path, bytes] :
             {std::pair{file, &pair.db}, std::pair{file + QStringLiteral("-wal"), &pair.wal}}) {
            QFile in(path);
            if (!in.open(QIODevice::ReadOnly))
                fail(QStringLiteral("cannot read %1").arg(path));
            *bytes = in.readAll();
        }
        conn.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (pair.wal.isEmpty())
        fail(QStringLiteral("no rows went into the -wal"));
    return pair;
}

QStringList smsWalStatements()
{
    return {QStringLiteral("INSERT INTO message (guid, text, handle_id, service, date, is_from_me) "
                           "VALUES ('A1F0C3E2-0008', 'Only in the write-ahead log', 2, 'SMS', "
                           "460000000, 0)"),
            QStringLiteral("INSERT INTO message (guid, text, handle_id, service, date, is_from_me) "
                           "VALUES ('A1F0C3E2-0009', 'Newest of all, also in the log', 3, "
                           "'iMessage', 460000100, 1)"),
            QStringLiteral("INSERT INTO chat_message_join SELECT handle_id, ROWID FROM message "
                           "WHERE guid IN ('A1F0C3E2-0008', 'A1F0C3E2-0009')")};
}

} // namespace PhoneDatabases

void addPhoneDatabases(SampleBackup& backup, bool smsInWal)
{
    const QString home = QStringLiteral("HomeDomain");
    if (smsInWal) {
        const auto pair = PhoneDatabases::withRowsInWal(PhoneDatabases::sms(),
                                                        PhoneDatabases::smsWalStatements());
        backup.addFile(home, QStringLiteral("Library/SMS/sms.db"), pair.db);
        backup.addFile(home, QStringLiteral("Library/SMS/sms.db-wal"), pair.wal);
        backup.addFile(home, QStringLiteral("Library/SMS/sms.db-shm"), QByteArray(32768, '\0'));
    } else {
        backup.addFile(home, QStringLiteral("Library/SMS/sms.db"), PhoneDatabases::sms());
    }
    backup.addFile(QStringLiteral("WirelessDomain"),
                   QStringLiteral("Library/CallHistory/call_history.db"),
                   PhoneDatabases::callHistory());
    backup.addFile(home, QStringLiteral("Library/Notes/notes.sqlite"), PhoneDatabases::notes());
    backup.addFile(home, QStringLiteral("Library/AddressBook/AddressBook.sqlitedb"),
                   PhoneDatabases::addressBook());
    backup.addFile(home, QStringLiteral("Library/Calendar/Calendar.sqlitedb"),
                   PhoneDatabases::calendar());
}
