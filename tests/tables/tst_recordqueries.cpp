#include "PhoneBackupFixture.h"
#include "app/DmGlobal.h"
#include "tables/CsvWriter.h"
#include "tables/PersonalDataQueries.h"
#include "tables/QueryResult.h"
#include "util/Error.h"

#include "AttributedBody.h"

#include <QDateTime>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using Rows = QList<QStringList>;
Q_DECLARE_METATYPE(Rows)

namespace {

Rows rowsOf(const QueryResult& result)
{
    Rows rows;
    for (qsizetype r = 0; r < result.rowCount(); ++r) {
        QStringList row;
        for (qsizetype c = 0; c < result.columns.size(); ++c)
            row << result.cell(r, c);
        rows << row;
    }
    // No statement orders its rows; compare them as a set.
    std::sort(rows.begin(), rows.end());
    return rows;
}

QString text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

} // namespace

class TestRecordQueries : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void tables_data();
    void tables();
    void failures_data();
    void failures();
    void twoDatabasesInARow();
    void csvRunsTheQueryAgainWithTheAttachInEffect();
    void attachStatementQuotesThePath();
    void smsDatesAndTexts_data();
    void smsDatesAndTexts();
    void realIos14Sms();

private:
    std::unique_ptr<PhoneBackupFixture> m_backup;
};

void TestRecordQueries::initTestCase()
{
    useFixedTimeZone();
    m_backup = std::make_unique<PhoneBackupFixture>();
    QVERIFY(m_backup->temp.isValid());
    QVERIFY(m_backup->folder.contains(QLatin1Char('\'')));
    for (const QString& file : {m_backup->sms, m_backup->callHistory, m_backup->notes,
                                m_backup->contacts, m_backup->calendar})
        QVERIFY2(QFile::exists(file), qPrintable(file));
}

void TestRecordQueries::tables_data()
{
    QTest::addColumn<QString>("db");
    QTest::addColumn<QStringList>("statements");
    QTest::addColumn<QStringList>("columns");
    QTest::addColumn<Rows>("rows");
    const PhoneBackupFixture& b = *m_backup;

    // Dates in the test's time zone (UTC+8); the message dated 0 has no date; the group
    // message without a handle is absent.
    QTest::newRow("sms")
        << b.sms << smsStatements() << QStringList{text("Date"), text("Number"), text("Text")}
        << Rows{
               {QString(), text("+14155550123"), text("Happy new millennium!")},
               {text("2013-12-18 03:06:40"), text("+8613800138000"), text("晚上一起吃饭吗？")},
               {text("2013-12-18 03:11:50"), text("+8613800138000"), text("好的，七点见 😊")},
               {text("2014-04-24 10:40:00"), text("zoe.mueller@example.de"),
                text("Milk, eggs, bread\nand coffee")},
               {text("2014-08-18 04:26:40"), text("+8613800138000"), QString()},
               {text("2014-12-11 22:13:20"), text("+14155550123"), text("She said \"on my way\"")}};

    // Call 1000000000 is 2001-09-09 01:46:40 UTC, shown in local time (UTC+8 here, not a fixed
    // three hours back); the call of person -1 (nobody's card) is kept with empty names; the
    // address book is attached from a folder whose name holds a quote.
    const QStringList callColumns{text("Row"),    text("Number"), text("Date"),
                                  text("Duration"), text("Flags"), text("Person"),
                                  text("First Name"), text("Last Name")};
    const Rows calls{{text("1"), text("+8613800138000"), text("2001-09-09 09:46:40"), text("62"),
                      text("5"), text("1"), text("伟"), text("张")},
                     {text("2"), text("+14155550199"), text("2014-05-14 00:53:20"), text("0"),
                      text("4"), text("-1"), QString(), QString()},
                     {text("3"), text("+49 30 1234567"), text("2014-01-18 07:06:40"), text("305"),
                      text("4"), text("2"), text("Zoë"), text("Müller-Lüdenscheid")},
                     {text("4"), text("13900139000"), text("2014-03-17 04:00:00"), text("17"),
                      text("5"), text("1"), text("伟"), text("张")}};
    QTest::newRow("call history")
        << b.callHistory << callHistoryStatements(b.contacts) << callColumns << calls;
    // Without an address book the calls are all there, without names.
    Rows anonymous = calls;
    for (QStringList& row : anonymous)
        row[6] = row[7] = QString();
    QTest::newRow("call history without address book")
        << b.callHistory << callHistoryStatements(QString()) << callColumns << anonymous;

    QTest::newRow("notes") << b.notes << notesStatements()
                           << QStringList{text("Title"), text("Author"), text("Summary")}
                           << Rows{{text("Empty note"), text("zoe.mueller@example.de"), QString()},
                                   {text("Shopping"), QString(), text("Milk, eggs\nbread")},
                                   {text("会议记录"), text("张伟"),
                                    text("周一上午十点，三楼会议室")}};

    // Two phone numbers give two rows identical but for the sixth column; Olaf, without any
    // entry, has a row of his own (the left join keeps him); the birthday is a date.
    const QStringList zhang1{QString(), QString(),      text("伟"),
                             QString(), text("张"),     text("+8613800138000"),
                             QString(), text("小张"),   text("深圳星河科技有限公司"),
                             QString(), text("工程师"), text("1982-01-01")};
    QStringList zhang2 = zhang1;
    zhang2[5] = text("13900139000");
    const QStringList zoe1{text("Dr."),
                           text("Jr."),
                           text("Zoë"),
                           text("Anne"),
                           text("Müller-Lüdenscheid"),
                           text("+49 30 1234567"),
                           text("Met at the fair, hall 3\nLikes green tea"),
                           QString(),
                           text("Acme, Inc."),
                           text("R&D"),
                           text("Head of \"Research\""),
                           QString()};
    QStringList zoe2 = zoe1;
    zoe2[5] = text("zoe.mueller@example.de");
    QStringList olaf(12);
    olaf[2] = text("Olaf");
    olaf[4] = text("Ohnenummer");
    QTest::newRow("contacts") << b.contacts << contactStatements()
                              << QStringList{text("Prefix"),         text("Suffix"),
                                             text("First Name"),     text("Middle Name"),
                                             text("Last Name"),      text("Phone / E-mail"),
                                             text("Note"),           text("Nickname"),
                                             text("Organization"),   text("Department"),
                                             text("Job Title"),      text("Birthday")}
                              << Rows{olaf, zhang1, zhang2, zoe1, zoe2};

    // 2001-based seconds in local time (eight hours east of UTC here).
    QTest::newRow("calendar")
        << b.calendar << calendarStatements()
        << QStringList{text("Title"), text("Location"), text("Start"), text("End"),
                       text("Description")}
        << Rows{{text("Dentist"), text("Praxis Dr. Weiß"), text("2016-11-05 08:53:20"),
                 text("2016-11-05 09:53:20"), QString()},
                {text("Quarterly review"), QString(), text("2017-06-24 20:26:40"),
                 text("2017-06-24 20:56:40"), QString()},
                {text("家庭聚餐"), QString(), text("2017-03-01 02:40:00"),
                 text("2017-03-01 04:40:00"), text("Bring wine, cake\nand flowers")}};
}

void TestRecordQueries::tables()
{
    QFETCH(QString, db);
    QFETCH(QStringList, statements);
    QFETCH(QStringList, columns);
    QFETCH(Rows, rows);

    const QStringList before = m_backup->listing();
    TdmGlobal dm;
    QueryResult result;
    runStatements(dm, db, statements, result);
    QCOMPARE(result.columns, columns);
    QCOMPARE(rowsOf(result), rows);
    QVERIFY(dm.qrySQL.isActive()); // left open for the CSV export
    // Read-only and immutable, the attached address book too: nothing appears in the backup.
    QCOMPARE(m_backup->listing(), before);
}

void TestRecordQueries::failures_data()
{
    QTest::addColumn<QString>("db");
    QTest::addColumn<QStringList>("statements");
    QTest::addColumn<QString>("message");
    const PhoneBackupFixture& b = *m_backup;
    QTest::newRow("missing file") << b.folder + QStringLiteral("/no/such.db") << smsStatements()
                                  << QStringLiteral("database file not found");
    QTest::newRow("backup folder itself")
        << b.folder << smsStatements() << QStringLiteral("database file not found");
    const QString garbage = QDir(b.temp.path()).filePath(QStringLiteral("garbage.db"));
    QFile file(garbage);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    QTest::newRow("not a database")
        << garbage << smsStatements() << QStringLiteral("is not a SQLite database");
    QTest::newRow("no such table") << b.notes << smsStatements() << QStringLiteral("no such table");
    // Without an address book the main window hands over the backup folder: the ATTACH fails
    // and the call query never runs.
    QTest::newRow("no address book") << b.callHistory << callHistoryStatements(b.folder)
                                     << QStringLiteral("unable to open database");
    QTest::newRow("address book missing")
        << b.callHistory << callHistoryStatements(b.folder + QStringLiteral("/ab/none.sqlitedb"))
        << QStringLiteral("unable to open database");
    QTest::newRow("attached file is no address book")
        << b.callHistory << callHistoryStatements(b.notes)
        << QStringLiteral("no such table: ab.ABPerson");
}

void TestRecordQueries::failures()
{
    QFETCH(QString, db);
    QFETCH(QStringList, statements);
    QFETCH(QString, message);
    const QStringList before = m_backup->listing();
    TdmGlobal dm;
    QueryResult result;
    try {
        runStatements(dm, db, statements, result);
        QFAIL("no error");
    } catch (const Error& e) {
        QVERIFY2(e.message().contains(message), qPrintable(e.message()));
    }
    QVERIFY(result.columns.isEmpty());
    QCOMPARE(result.rowCount(), 0);
    QCOMPARE(m_backup->listing(), before);
}

void TestRecordQueries::twoDatabasesInARow()
{
    TdmGlobal dm;
    QueryResult calls;
    runStatements(dm, m_backup->callHistory, callHistoryStatements(m_backup->contacts), calls);
    QCOMPARE(calls.rowCount(), 4);
    // The second table leaves the first file (and its attachment) behind: notes.sqlite has no
    // call table, and a name from the old attachment no longer resolves.
    QueryResult notes;
    runStatements(dm, m_backup->notes, notesStatements(), notes);
    QCOMPARE(notes.rowCount(), 3);
    QCOMPARE(notes.columns.first(), QStringLiteral("Title"));
    QVERIFY(!dm.qrySQL.exec(QStringLiteral("select count(*) from ab.ABPerson")));
    QVERIFY(!dm.qrySQL.exec(QStringLiteral("select count(*) from call")));
    // And a failed open after a good one leaves nothing of the good one in the result.
    QueryResult failed;
    QVERIFY_THROWS_EXCEPTION(Error, runStatements(dm, m_backup->folder + QStringLiteral("/x.db"),
                                                  notesStatements(), failed));
    QCOMPARE(failed.rowCount(), 0);
}

void TestRecordQueries::csvRunsTheQueryAgainWithTheAttachInEffect()
{
    TdmGlobal dm;
    QueryResult result;
    const QStringList statements = callHistoryStatements(m_backup->contacts);
    runStatements(dm, m_backup->callHistory, statements, result);
    const QByteArray csv = queryToCsv(dm.qrySQL, statements.constLast());
    QVERIFY(csv.startsWith(
        "\xef\xbb\xbfRow,Number,Date,Duration,Flags,Person,First Name,Last Name\r\n"));
    QVERIFY(
        csv.contains("1,+8613800138000,2001-09-09 09:46:40,62,5,1,\xe4\xbc\x9f,\xe5\xbc\xa0\r\n"));
    QCOMPARE(csv.count("\r\n"), 5);
    // Twice in a row gives the same file.
    QCOMPARE(queryToCsv(dm.qrySQL, statements.constLast()), csv);
}

void TestRecordQueries::attachStatementQuotesThePath()
{
    const QString statement =
        attachStatement(QStringLiteral("/tmp/it's here/a b#1?.db"), QStringLiteral("ab"));
    QCOMPARE(statement,
             QStringLiteral(
                 "attach 'file:///tmp/it''s%20here/a%20b%231%3F.db?mode=ro&immutable=1' as ab;"));
}

void TestRecordQueries::smsDatesAndTexts_data()
{
    QTest::addColumn<qint64>("date");
    QTest::addColumn<QVariant>("text");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("shownDate");
    QTest::addColumn<QString>("shownText");
    const QVariant none(QMetaType::fromType<QString>());
    // 2020-05-06 07:08:09 UTC is 610441689 s after 2001; shown at UTC+8.
    QTest::newRow("seconds") << qint64(610441689) << QVariant("a") << QByteArray()
                             << "2020-05-06 15:08:09"
                             << "a";
    QTest::newRow("nanoseconds") << qint64(610441689) * 1000000000 + 999999999 << QVariant("b")
                                 << QByteArray() << "2020-05-06 15:08:09"
                                 << "b";
    QTest::newRow("zero is no date")
        << qint64(0) << QVariant("c") << QByteArray() << QString() << "c";
    QTest::newRow("before 2001") << qint64(-86400) << QVariant("d") << QByteArray()
                                 << "2000-12-31 08:00:00"
                                 << "d";
    QTest::newRow("text only in attributedBody")
        << qint64(610441689) << none << attributedBodyFor(QStringLiteral("in the body 你好"))
        << "2020-05-06 15:08:09" << QStringLiteral("in the body 你好");
    QTest::newRow("text wins over attributedBody")
        << qint64(610441689) << QVariant("plain") << attributedBodyFor(QStringLiteral("body"))
        << "2020-05-06 15:08:09"
        << "plain";
    QTest::newRow("unreadable attributedBody")
        << qint64(610441689) << none << QByteArray("\x04\x0bstreamtyped\x81")
        << "2020-05-06 15:08:09" << QString();
}

void TestRecordQueries::smsDatesAndTexts()
{
    QFETCH(qint64, date);
    QFETCH(QVariant, text);
    QFETCH(QByteArray, body);
    QFETCH(QString, shownDate);
    QFETCH(QString, shownText);
    QTemporaryDir dir;
    const QString path = dir.filePath("sms.db");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "maker");
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec("CREATE TABLE handle (ROWID INTEGER PRIMARY KEY, id TEXT)"));
        QVERIFY(q.exec("CREATE TABLE message (ROWID INTEGER PRIMARY KEY, text TEXT, "
                       "attributedBody BLOB, handle_id INTEGER, date INTEGER)"));
        QVERIFY(q.exec("INSERT INTO handle VALUES (1, '+100')"));
        QVERIFY(q.prepare("INSERT INTO message VALUES (1, ?, ?, 1, ?)"));
        q.addBindValue(text);
        q.addBindValue(body.isNull() ? QVariant(QMetaType::fromType<QByteArray>())
                                     : QVariant(body));
        q.addBindValue(date);
        QVERIFY(q.exec());
        db.close();
    }
    QSqlDatabase::removeDatabase("maker");
    TdmGlobal dm;
    QueryResult result;
    runStatements(dm, path, smsStatements(), result);
    QCOMPARE(rowsOf(result), (Rows{{shownDate, QStringLiteral("+100"), shownText}}));
}

// The real iOS 14 database: its date counts nanoseconds.
void TestRecordQueries::realIos14Sms()
{
    const QString sms =
        QStringLiteral(FERROWICK_REAL_BACKUPS "/ios14-manifest-db/3d/"
                                              "3d0d7e5fb2ce288813306e4d4636395e047a3d28");
    if (!QFile::exists(sms))
        QSKIP("the real backup is not beside the clone");
    TdmGlobal dm;
    QueryResult result;
    runStatements(dm, sms, smsStatements(), result);
    QCOMPARE(result.rowCount(), 1);
    // The same instant from the raw column, counted here with Qt rather than SQL.
    qint64 raw = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "raw");
        db.setConnectOptions("QSQLITE_OPEN_URI;QSQLITE_OPEN_READONLY");
        db.setDatabaseName("file:" + sms + "?mode=ro&immutable=1");
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec("SELECT date FROM message") && q.next());
        raw = q.value(0).toLongLong();
        db.close();
    }
    QSqlDatabase::removeDatabase("raw");
    QVERIFY2(raw > 100000000000, "a nanosecond count");
    const QDateTime when = QDateTime::fromSecsSinceEpoch(raw / 1000000000 + 978307200);
    QCOMPARE(result.cell(0, 0), when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    QVERIFY(when.date().year() >= 2010 && when.date().year() <= 2021);
    QVERIFY(!result.cell(0, 1).isEmpty());
    QVERIFY(!result.cell(0, 2).isEmpty());
    dm.closeDatabase();
}

QTEST_GUILESS_MAIN(TestRecordQueries)
#include "tst_recordqueries.moc"
