// The record tables of current iPhones: CallHistory.storedata, NoteStore.sqlite (the real iOS 15
// file and the generated one), the contacts as vCard read back by an independent parser, and
// the Voice Memos database with its title fallbacks.
#include "CurrentDatabases.h"
#include "PhoneBackupFixture.h"
#include "PhoneDatabases.h"
#include "app/DmGlobal.h"
#include "media/VoiceMemos.h"
#include "tables/NoteStore.h"
#include "tables/PersonalDataQueries.h"
#include "tables/QueryResult.h"
#include "tables/VCard.h"
#include "util/Error.h"
#include "util/Sqlite.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using Rows = QList<QStringList>;
Q_DECLARE_METATYPE(Rows)

namespace {

const QString kRealNotes =
    QStringLiteral(FERROWICK_SOURCE_DIR "/../shared/real-data/notes-ios15/NoteStore.sqlite");

Rows rowsOf(const QueryResult& result)
{
    Rows rows;
    for (qsizetype r = 0; r < result.rowCount(); ++r) {
        QStringList row;
        for (qsizetype c = 0; c < result.columns.size(); ++c)
            row << result.cell(r, c);
        rows << row;
    }
    return rows;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QString u(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

QByteArray varint(quint64 v)
{
    QByteArray out;
    do {
        out += char((v & 0x7f) | (v > 0x7f ? 0x80 : 0));
        v >>= 7;
    } while (v);
    return out;
}

QByteArray field(quint64 number, const QByteArray& value)
{
    return varint(number << 3 | 2) + varint(quint64(value.size())) + value;
}

} // namespace

class TestCurrentRecords : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void callKinds_data();
    void callKinds();
    void callNamesFromTheAddressBook_data();
    void callNamesFromTheAddressBook();
    void callTableWithoutItsColumns();
    void noteBodies_data();
    void noteBodies();
    void inflateStopsAtItsLimit();
    void realNoteStore();
    void generatedNoteStore();
    void vCardReadBackByAnIndependentParser();
    void vCardLines();
    void voiceMemoTitles();
    void mp4TitleTag_data();
    void mp4TitleTag();
    void memoSaveNames_data();
    void memoSaveNames();

private:
    QTemporaryDir m_dir;
    QString m_addressBook;
};

void TestCurrentRecords::initTestCase()
{
    useFixedTimeZone(); // UTC+8
    QVERIFY(m_dir.isValid());
    m_addressBook = writeFile(m_dir, "AddressBook.sqlitedb", PhoneDatabases::addressBook());
}

void TestCurrentRecords::callKinds_data()
{
    QTest::addColumn<QVariant>("originated");
    QTest::addColumn<QVariant>("answered");
    QTest::addColumn<QVariant>("callType");
    QTest::addColumn<QVariant>("provider");
    QTest::addColumn<QVariant>("address");
    QTest::addColumn<QVariant>("duration");
    QTest::addColumn<QVariant>("date");
    QTest::addColumn<QStringList>("shown"); // date, number, direction, duration, service

    const QVariant none(QMetaType::fromType<QString>());
    const QVariant tel("com.apple.Telephony");
    const QVariant ft("com.apple.FaceTime");
    const QVariant blob(QByteArray("+14155550123"));
    // 700000000 s after 2001 is 2023-03-08 20:26:40 UTC, 2023-03-09 04:26:40 here.
    const QVariant when(700000000.0);
    const QString shown = QStringLiteral("2023-03-09 04:26:40");
    QTest::newRow("outgoing phone call")
        << QVariant(1) << QVariant(1) << QVariant(1) << tel << blob << QVariant(62.4) << when
        << QStringList{shown, "+14155550123", "Outgoing", "0:01:02", "Phone"};
    QTest::newRow("incoming, over an hour")
        << QVariant(0) << QVariant(1) << QVariant(1) << tel << blob << QVariant(3725.0) << when
        << QStringList{shown, "+14155550123", "Incoming", "1:02:05", "Phone"};
    QTest::newRow("missed") << QVariant(0) << QVariant(0) << QVariant(1) << tel << blob
                            << QVariant(0.0) << when
                            << QStringList{shown, "+14155550123", "Missed", "0:00:00", "Phone"};
    QTest::newRow("outgoing nobody answered")
        << QVariant(1) << QVariant(0) << QVariant(1) << tel << blob << QVariant(0.0) << when
        << QStringList{shown, "+14155550123", "Outgoing", "0:00:00", "Phone"};
    QTest::newRow("FaceTime video")
        << QVariant(1) << QVariant(1) << QVariant(8) << ft << QVariant(QByteArray("a@b.example"))
        << QVariant(305.0) << when
        << QStringList{shown, "a@b.example", "Outgoing", "0:05:05", "FaceTime Video"};
    QTest::newRow("FaceTime audio")
        << QVariant(0) << QVariant(1) << QVariant(16) << ft << blob << QVariant(59.6) << when
        << QStringList{shown, "+14155550123", "Incoming", "0:01:00", "FaceTime Audio"};
    QTest::newRow("another app's call")
        << QVariant(0) << QVariant(1) << QVariant(1) << QVariant("net.whatsapp.WhatsApp") << blob
        << QVariant(90.0) << when
        << QStringList{shown, "+14155550123", "Incoming", "0:01:30", "net.whatsapp.WhatsApp"};
    QTest::newRow("no provider") << QVariant(1) << QVariant(1) << QVariant(1) << none << blob
                                 << QVariant(1.0) << when
                                 << QStringList{shown, "+14155550123", "Outgoing", "0:00:01",
                                                "Phone"};
    QTest::newRow("number kept as text")
        << QVariant(1) << QVariant(1) << QVariant(1) << tel << QVariant("13900139000")
        << QVariant(1.0) << when
        << QStringList{shown, "13900139000", "Outgoing", "0:00:01", "Phone"};
    QTest::newRow("number kept as an integer")
        << QVariant(1) << QVariant(1) << QVariant(1) << tel << QVariant(qint64(5551234))
        << QVariant(1.0) << when << QStringList{shown, "5551234", "Outgoing", "0:00:01", "Phone"};
    QTest::newRow("no duration, no date, no number")
        << QVariant(0) << QVariant(0) << QVariant(1) << tel << none << QVariant() << QVariant()
        << QStringList{QString(), QString(), "Missed", QString(), "Phone"};
    QTest::newRow("fraction of a second")
        << QVariant(1) << QVariant(1) << QVariant(1) << tel << blob << QVariant(1.0)
        << QVariant(700000000.75)
        << QStringList{shown, "+14155550123", "Outgoing", "0:00:01", "Phone"};
    QTest::newRow("before 2001") << QVariant(1) << QVariant(1) << QVariant(1) << tel << blob
                                 << QVariant(1.0) << QVariant(-86400.0)
                                 << QStringList{"2000-12-31 08:00:00", "+14155550123", "Outgoing",
                                                "0:00:01", "Phone"};
}

void TestCurrentRecords::callKinds()
{
    QFETCH(QVariant, originated);
    QFETCH(QVariant, answered);
    QFETCH(QVariant, callType);
    QFETCH(QVariant, provider);
    QFETCH(QVariant, address);
    QFETCH(QVariant, duration);
    QFETCH(QVariant, date);
    QFETCH(QStringList, shown);
    QTemporaryDir dir;
    const QString path = dir.filePath("CallHistory.storedata");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "maker");
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec("CREATE TABLE ZCALLRECORD (Z_PK INTEGER PRIMARY KEY, ZANSWERED INTEGER, "
                       "ZCALLTYPE INTEGER, ZORIGINATED INTEGER, ZDATE TIMESTAMP, ZDURATION FLOAT, "
                       "ZADDRESS BLOB, ZNAME VARCHAR, ZSERVICE_PROVIDER VARCHAR)"));
        QVERIFY(q.prepare("INSERT INTO ZCALLRECORD VALUES (1, ?, ?, ?, ?, ?, ?, NULL, ?)"));
        for (const QVariant& v :
             {answered, callType, originated, date, duration, address, provider})
            q.addBindValue(v.isValid() ? v : QVariant(QMetaType::fromType<double>()));
        QVERIFY(q.exec());
        db.close();
    }
    QSqlDatabase::removeDatabase("maker");
    TdmGlobal dm;
    QueryResult result;
    runStatements(dm, path, callRecordStatements(tableColumns(path, "ZCALLRECORD"), QString()),
                  result);
    QCOMPARE(result.columns,
             (QStringList{"Date", "Number", "Name", "Direction", "Duration", "Service"}));
    QCOMPARE(result.rowCount(), 1);
    const QStringList row = rowsOf(result).constFirst();
    QCOMPARE((QStringList{row[0], row[1], row[3], row[4], row[5]}), shown);
}

void TestCurrentRecords::callNamesFromTheAddressBook_data()
{
    QTest::addColumn<bool>("withAddressBook");
    QTest::addColumn<Rows>("rows");
    // The generated store: a day apart from 2023-03-09 04:26:40 here; numbers written otherwise
    // than in the cards ("+86 138 0013 8000" for +8613800138000, an e-mail in capitals) still
    // find their names; a number in nobody's card has none; the app's call keeps its own.
    const QString zhang = u("伟 张"), zoe = u("Zoë Müller-Lüdenscheid");
    const Rows rows{
        {"2023-03-09 04:26:40", "+86 138 0013 8000", zhang, "Outgoing", "0:01:02", "Phone"},
        {"2023-03-10 04:26:40", "+14155550199", QString(), "Incoming", "1:02:05", "Phone"},
        {"2023-03-11 04:26:40", "13900139000", zhang, "Missed", "0:00:00", "Phone"},
        {"2023-03-12 04:26:40", "Zoe.Mueller@example.de", zoe, "Outgoing", "0:05:05",
         "FaceTime Video"},
        {"2023-03-13 04:26:40", "+49301234567", zoe, "Incoming", "0:00:45", "FaceTime Audio"},
        {"2023-03-14 04:26:40", "+447700900123", "Ada Lovelace", "Incoming", "0:01:30",
         "net.whatsapp.WhatsApp"},
        {"2023-03-15 04:26:40", "+14155550199", QString(), "Missed", "0:00:00", "FaceTime Audio"}};
    QTest::newRow("with the address book") << true << rows;
    Rows anonymous = rows;
    for (QStringList& row : anonymous)
        if (row[2] != QLatin1String("Ada Lovelace"))
            row[2] = QString();
    QTest::newRow("without") << false << anonymous;
}

void TestCurrentRecords::callNamesFromTheAddressBook()
{
    QFETCH(bool, withAddressBook);
    QFETCH(Rows, rows);
    const QString store =
        writeFile(m_dir, "CallHistory.storedata", CurrentDatabases::callHistoryStore());
    const QStringList statements = callRecordStatements(
        tableColumns(store, "ZCALLRECORD"), withAddressBook ? m_addressBook : QString());
    TdmGlobal dm;
    QueryResult result;
    runStatements(dm, store, statements, result);
    QCOMPARE(rowsOf(result), rows);
    // Opening the same file again (a second window) finds no table left from the first.
    QueryResult again;
    runStatements(dm, store, statements, again);
    QCOMPARE(rowsOf(again), rows);
}

void TestCurrentRecords::callTableWithoutItsColumns()
{
    // A model without the service and the call type: those read as a phone call.
    QTemporaryDir dir;
    const QString path = dir.filePath("CallHistory.storedata");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "maker");
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec("CREATE TABLE ZCALLRECORD (Z_PK INTEGER PRIMARY KEY, ZDATE TIMESTAMP, "
                       "ZADDRESS BLOB, ZORIGINATED INTEGER)"));
        QVERIFY(q.exec("INSERT INTO ZCALLRECORD VALUES (1, 0, CAST('110' AS BLOB), 1)"));
        db.close();
    }
    QSqlDatabase::removeDatabase("maker");
    TdmGlobal dm;
    QueryResult result;
    runStatements(dm, path, callRecordStatements(tableColumns(path, "ZCALLRECORD"), m_addressBook),
                  result);
    QCOMPARE(rowsOf(result),
             (Rows{{"2001-01-01 08:00:00", "110", QString(), "Outgoing", QString(), "Phone"}}));
}

void TestCurrentRecords::noteBodies_data()
{
    QTest::addColumn<QByteArray>("zdata");
    QTest::addColumn<QVariant>("text"); // invalid: no text
    QTest::newRow("text") << CurrentDatabases::noteBody(u("Hello\nwörld ☕"))
                          << QVariant(u("Hello\nwörld ☕"));
    QTest::newRow("fields of every wire type around it")
        << CurrentDatabases::noteBody(CurrentDatabases::longNoteText())
        << QVariant(CurrentDatabases::longNoteText());
    QTest::newRow("ciphertext of a locked note")
        << QByteArray("\x71\x3d\xcd\x2d\x00\x01", 6) << QVariant();
    QTest::newRow("empty") << QByteArray() << QVariant();
    // Gzip of a hand-made protobuf, then that gzip cut short.
    const QByteArray good = CurrentDatabases::noteBody(QStringLiteral("cut"));
    QTest::newRow("gzip cut short") << good.left(good.size() - 6) << QVariant();
    QTest::newRow("gzip header only") << good.left(10) << QVariant();
}

void TestCurrentRecords::noteBodies()
{
    QFETCH(QByteArray, zdata);
    QFETCH(QVariant, text);
    const std::optional<QString> read = noteStoreText(zdata);
    QCOMPARE(read.has_value(), text.isValid());
    if (read)
        QCOMPARE(*read, text.toString());
}

void TestCurrentRecords::inflateStopsAtItsLimit()
{
    // A megabyte of zeros packs into a few hundred bytes; past its limit nothing is made.
    const QByteArray body = CurrentDatabases::noteBody(QString(1 << 20, QLatin1Char('0')));
    QVERIFY(body.size() < 10000);
    QVERIFY(inflateGzip(body).has_value());
    QVERIFY(!inflateGzip(body, 1 << 19).has_value());

    // Malformed protobufs: a length past the end, a varint without end, an unknown wire type.
    QCOMPARE(protobufField(QByteArray("\x12\x05"
                                      "ab",
                                      4),
                           2)
                 .has_value(),
             false);
    QCOMPARE(protobufField(QByteArray(12, '\xff'), 2).has_value(), false);
    QCOMPARE(protobufField(QByteArray("\x0f\x00", 2), 2).has_value(), false);
    QCOMPARE(protobufField(QByteArray("\x09"
                                      "1234567",
                                      8),
                           2)
                 .has_value(),
             false);
    const std::optional<QByteArrayView> found = protobufField(QByteArray("\x08\x96\x01\x0d"
                                                                         "abcd"
                                                                         "\x12\x02"
                                                                         "hi",
                                                                         12),
                                                              2);
    QVERIFY(found.has_value());
    QCOMPARE(QByteArray(found->data(), found->size()), QByteArray("hi"));
}

// The real iOS 15 NoteStore: three notes decode to their texts (as an independent reader
// decoded them), four locked ones show as locked, the one marked for deletion is left out.
void TestCurrentRecords::realNoteStore()
{
    if (!QFile::exists(kRealNotes))
        QSKIP("the real data is not beside the clone");
    const QStringList statements = noteStoreStatements(
        tableColumns(kRealNotes, "ZICCLOUDSYNCINGOBJECT"), tableColumns(kRealNotes, "ZICNOTEDATA"));
    TdmGlobal dm;
    QueryResult result;
    runStatements(dm, kRealNotes, statements, result);
    QCOMPARE(result.columns, (QStringList{"Title", "Folder", "Created", "Modified", "Text"}));
    QMap<QString, QStringList> byTitle;
    for (const QStringList& row : rowsOf(result))
        byTitle.insert(row[0], row);
    QCOMPARE(result.rowCount(), 7);
    QCOMPARE(byTitle.size(), 7);
    QCOMPARE(byTitle["My First Note"][4],
             QStringLiteral("My First Note\n\nThis is my first note.  Nothing special. \n"));
    QCOMPARE(byTitle["iOS 14 Note"][4],
             QStringLiteral("iOS 14 Note\n\nThis is a note created for iOS 14.  It is created on "
                            "iPhone. "));
    QCOMPARE(byTitle["iOS 15 Note"][4],
             QStringLiteral("iOS 15 Note\n\nHere is the test iOS 15 note. "));
    for (const char* locked :
         {"My Secret Note", "iOS 14 Locked Note", "My Super Secret Note", "Secure iOS 15 Note"})
        QCOMPARE(byTitle[locked][4], QStringLiteral("Locked"));
    QCOMPARE(byTitle["My Super Secret Note"][1], QStringLiteral("My New Folder"));
    QCOMPARE(byTitle["My First Note"][1], QStringLiteral("Notes"));
    // 607048608.77 s after 2001 is 2020-03-28 00:36:48 UTC.
    QCOMPARE(byTitle["My First Note"][2], QStringLiteral("2020-03-28 08:36:48"));
    QCOMPARE(byTitle["My First Note"][3], QStringLiteral("2020-03-28 08:37:43"));
    dm.closeDatabase();
}

void TestCurrentRecords::generatedNoteStore()
{
    const QString store = writeFile(m_dir, "NoteStore.sqlite", CurrentDatabases::noteStore());
    const QStringList statements = noteStoreStatements(tableColumns(store, "ZICCLOUDSYNCINGOBJECT"),
                                                       tableColumns(store, "ZICNOTEDATA"));
    TdmGlobal dm;
    QueryResult result;
    runStatements(dm, store, statements, result);
    // Newest first; the note marked for deletion is absent, the one in the trash folder is
    // there with its folder, the one whose body is not on the device has no text.
    const Rows expected{
        {"Ideas", "Notes", "2023-11-02 14:40:00", "2023-11-02 14:41:40", QString()},
        {"Packing list", "Recently Deleted", "2023-11-01 10:53:20", "2023-11-01 10:55:00",
         u("Packing list\n护照, charger, 雨伞")},
        {"Bank PINs", "Notes", "2023-10-30 03:20:00", "2023-10-30 03:28:20", "Locked"},
        {"Trip diary", "Travel", "2023-10-27 19:46:40", "2023-10-28 23:33:20",
         CurrentDatabases::longNoteText()},
        {"Shopping", "Notes", "2023-10-26 16:00:00", "2023-10-26 17:00:00",
         "Shopping\nMilk, eggs, bread\n\"Organic\" if they have it"}};
    QCOMPARE(rowsOf(result), expected);
}

// The vCard file of the generated address book, parsed by Python's vobject (Debian's
// python3-vobject), which knows nothing of our writer.
void TestCurrentRecords::vCardReadBackByAnIndependentParser()
{
    // Debian's package installs for Debian's Python, which another python3 on PATH may hide.
    const QString python =
        QFile::exists("/usr/bin/python3") ? QStringLiteral("/usr/bin/python3") : "python3";
    if (QProcess::execute(python, {"-c", "import vobject"}) != 0)
        QSKIP("python3-vobject is not installed (scripts/setup.sh installs it)");
    const QString file = writeFile(m_dir, "contacts.vcf", addressBookVCards(m_addressBook));
    const char* script = R"(
import json, sys, vobject
out = []
with open(sys.argv[1], encoding="utf-8", newline="") as f:
    for card in vobject.readComponents(f.read(), validate=True):
        c = card.contents
        n = card.n.value
        out.append({
            "version": card.version.value,
            "fn": card.fn.value,
            "n": [n.family, n.given, n.additional, n.prefix, n.suffix],
            "tel": [[t.value, t.params.get("TYPE", [])] for t in c.get("tel", [])],
            "email": [[e.value, e.params.get("TYPE", [])] for e in c.get("email", [])],
            "org": c["org"][0].value if "org" in c else None,
            "title": c["title"][0].value if "title" in c else None,
            "nickname": c["nickname"][0].value if "nickname" in c else None,
            "bday": c["bday"][0].value if "bday" in c else None,
            "note": c["note"][0].value if "note" in c else None,
        })
print(json.dumps(out, ensure_ascii=False))
)";
    QProcess p;
    p.start(python, {"-c", script, file});
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    const QJsonArray cards = QJsonDocument::fromJson(p.readAllStandardOutput()).array();
    QCOMPARE(cards.size(), 3); // Olaf has no number and still has his card
    const QJsonObject zhang = cards[0].toObject();
    QCOMPARE(zhang["version"].toString(), "3.0");
    QCOMPARE(zhang["fn"].toString(), u("伟 张"));
    QCOMPARE(zhang["n"].toArray().toVariantList(), (QVariantList{u("张"), u("伟"), "", "", ""}));
    QCOMPARE(zhang["tel"].toArray().toVariantList(),
             (QVariantList{QVariantList{"+8613800138000", QVariantList{"CELL"}},
                           QVariantList{"13900139000", QVariantList{"HOME"}}}));
    QCOMPARE(zhang["bday"].toString(), "1982-01-01");
    QCOMPARE(zhang["org"].toArray().toVariantList(), (QVariantList{u("深圳星河科技有限公司")}));
    QCOMPARE(zhang["nickname"].toString(), u("小张"));
    QCOMPARE(zhang["title"].toString(), u("工程师"));
    const QJsonObject zoe = cards[1].toObject();
    QCOMPARE(zoe["fn"].toString(), u("Dr. Zoë Anne Müller-Lüdenscheid Jr."));
    QCOMPARE(zoe["n"].toArray().toVariantList(),
             (QVariantList{u("Müller-Lüdenscheid"), u("Zoë"), "Anne", "Dr.", "Jr."}));
    // Commas, quotes and line breaks come back as they were.
    QCOMPARE(zoe["org"].toArray().toVariantList(), (QVariantList{"Acme, Inc.", "R&D"}));
    QCOMPARE(zoe["title"].toString(), "Head of \"Research\"");
    QCOMPARE(zoe["note"].toString(), "Met at the fair, hall 3\nLikes green tea");
    QCOMPARE(
        zoe["email"].toArray().toVariantList(),
        (QVariantList{QVariantList{"zoe.mueller@example.de", QVariantList{"INTERNET", "WORK"}}}));
    QVERIFY(zoe["bday"].isNull());
    const QJsonObject olaf = cards[2].toObject();
    QCOMPARE(olaf["fn"].toString(), "Olaf Ohnenummer");
    QCOMPARE(olaf["tel"].toArray().size(), 0);
}

// RFC 2426 line rules, checked on a card with long and multibyte values.
void TestCurrentRecords::vCardLines()
{
    TVCardPerson p;
    p.first = QString(30, QChar(0x4F1F)); // 90 octets of UTF-8
    p.note = QStringLiteral("a;b,c\\d\r\ne\n") + QString(200, QLatin1Char('x'));
    p.entries.push_back({"TEL", {"CELL"}, "+1 555 0100"});
    const QByteArray card = vCardOf(p);
    QVERIFY(card.startsWith("BEGIN:VCARD\r\nVERSION:3.0\r\n"));
    QVERIFY(card.endsWith("END:VCARD\r\n"));
    QByteArray unfolded;
    for (const QByteArray& line : card.split('\n')) {
        if (line.isEmpty())
            continue;
        QVERIFY2(line.endsWith('\r'), line.constData()); // CR LF only
        QVERIFY2(line.size() - 1 <= 75, line.constData());
        QVERIFY(QString::fromUtf8(line).toUtf8() == line); // no fold inside a character
        if (line.startsWith(' '))
            unfolded.chop(2), unfolded += line.mid(1) + '\n';
        else
            unfolded += line + '\n';
    }
    QVERIFY(unfolded.contains("NOTE:a\\;b\\,c\\\\d\\ne\\n" + QByteArray(200, 'x') + "\r\n"));
    QVERIFY(unfolded.contains("N:;" + QString(30, QChar(0x4F1F)).toUtf8() + ";;;\r\n"));
    QVERIFY(unfolded.contains("TEL;TYPE=CELL:+1 555 0100\r\n"));
}

void TestCurrentRecords::voiceMemoTitles()
{
    const QString db = writeFile(m_dir, "CloudRecordings.db", CurrentDatabases::cloudRecordings());
    const std::vector<TVoiceMemo> memos = readVoiceMemos(db);
    QCOMPARE(memos.size(), size_t(6));
    // The label; the plain sorting label where the title is encrypted; none.
    QCOMPARE(memos[0].label, u("Interview: Zoë / part 1"));
    QCOMPARE(memos[0].fileName, QStringLiteral("20231105 101500-1A2B3C4D.m4a"));
    QCOMPARE(memos[0].date, QStringLiteral("2023-11-05 18:15:00"));
    QCOMPARE(memos[0].duration, 1.0);
    QCOMPARE(memos[1].label, QStringLiteral("Band practice"));
    QCOMPARE(memos[2].label, QString());
    QCOMPARE(memos[3].label, QString());
    // A full path of the phone gives its file name; the eviction date marks it deleted.
    QCOMPARE(memos[4].fileName, QStringLiteral("20240320 070000-7B8C9D0E.m4a"));
    QVERIFY(memos[4].recentlyDeleted);
    QVERIFY(!memos[0].recentlyDeleted);
    // Fallbacks: label, then the file's title tag, then the file name.
    QCOMPARE(memoTitle(memos[1], QStringLiteral("tag")), QStringLiteral("Band practice"));
    QCOMPARE(memoTitle(memos[2], QStringLiteral("Kitchen idea")), QStringLiteral("Kitchen idea"));
    QCOMPARE(memoTitle(memos[3], std::nullopt), QStringLiteral("20240315 120000-3A4B5C6D"));
    // A file that is no such database is an error, not an empty list.
    QVERIFY_THROWS_EXCEPTION(Error, readVoiceMemos(m_addressBook));
}

void TestCurrentRecords::mp4TitleTag_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QVariant>("title");
    const QByteArray titled = CurrentDatabases::titledRecording(0.3, 440, u("Küchen-Idee 厨房"));
    QTest::newRow("title tag") << titled << QVariant(u("Küchen-Idee 厨房"));
    QTest::newRow("no tag") << CurrentDatabases::titledRecording(0.3, 440, QString()) << QVariant();
    QTest::newRow("cut inside the moov atom")
        << titled.left(titled.indexOf("moov") + 40) << QVariant();
    QTest::newRow("not a file of atoms") << QByteArray(64, '\xff') << QVariant();
    QTest::newRow("empty") << QByteArray() << QVariant();
    // An atom claiming more than the file holds.
    QByteArray lying = titled;
    const qsizetype moov = lying.indexOf("moov") - 4;
    lying[moov] = '\x7f';
    QTest::newRow("atom size past the end") << lying << QVariant();
}

void TestCurrentRecords::mp4TitleTag()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QVariant, title);
    const QString file = writeFile(m_dir, "memo.m4a", bytes);
    const std::optional<QString> tag = ::mp4TitleTag(file);
    QCOMPARE(tag.has_value(), title.isValid());
    if (tag)
        QCOMPARE(*tag, title.toString());
}

void TestCurrentRecords::memoSaveNames_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << "Band practice"
                           << "Band practice.m4a";
    QTest::newRow("separators and colons")
        << u("Interview: Zoë / part 1") << u("Interview_ Zoë _ part 1.m4a");
    QTest::newRow("hidden-file dots") << "..secret"
                                      << "secret.m4a";
    QTest::newRow("only separators") << "//"
                                     << "__.m4a";
    QTest::newRow("empty") << ""
                           << "20240315 120000-3A4B5C6D.m4a";
    QTest::newRow("line break") << "a\nb"
                                << "a_b.m4a";
    QTest::newRow("very long") << QString(300, QLatin1Char('y'))
                               << QString(120, QLatin1Char('y')) + ".m4a";
}

void TestCurrentRecords::memoSaveNames()
{
    QFETCH(QString, title);
    QFETCH(QString, name);
    QCOMPARE(memoSaveName(title, QStringLiteral("20240315 120000-3A4B5C6D.m4a")), name);
}

QTEST_GUILESS_MAIN(TestCurrentRecords)
#include "tst_currentrecords.moc"
