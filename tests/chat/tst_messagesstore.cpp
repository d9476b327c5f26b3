#include "chat/MessagesStore.h"
#include "util/Error.h"

#include "MessagesDatabases.h"
#include "PhoneDatabases.h"
#include "SampleBackup.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>

using MessagesDatabases::Era;
Q_DECLARE_METATYPE(Era)
Q_DECLARE_METATYPE(TMessagesStore::Schema)

namespace {

const QString kObject = QString(QChar(0xFFFC));
const QString kZhang = QStringLiteral("伟 张");
const QString kZoe = QStringLiteral("Zoë Müller-Lüdenscheid");
const QString kGroup = QStringLiteral("<script>alert('name')</script> Family");

QString iso(qint64 ms)
{
    return ms == 0 ? QString()
                   : QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

QString write(const QString& folder, const QString& name, const QByteArray& bytes)
{
    const QString path = QDir(folder).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// One line per message: who, text, flags, files and reactions; compared as tables below.
QString summary(const TMessage& m)
{
    QString line = m.fromMe ? QStringLiteral("me") : m.sender;
    line += QStringLiteral(": ") + QString(m.text).replace(kObject, QStringLiteral("[obj]"));
    if (m.edited)
        line += QStringLiteral(" [edited]");
    if (m.unsent)
        line += QStringLiteral(" [unsent]");
    if (m.itemType != 0)
        line += QStringLiteral(" [event %1/%2 %3 %4]")
                    .arg(m.itemType)
                    .arg(m.groupActionType)
                    .arg(m.groupTitle, m.otherHandle);
    for (const TMessageAttachment& a : m.attachments)
        line += QStringLiteral(" {%1 %2}").arg(a.name, a.mimeType);
    for (const TMessageReaction& r : m.reactions)
        line += QStringLiteral(" (%1 %2%3)")
                    .arg(r.type)
                    .arg(r.fromMe ? QStringLiteral("me") : r.sender, r.emoji);
    return line;
}

// A hand-made database: statements run on a fresh file.
QString handMade(const QString& folder, const QString& name, const QStringList& statements)
{
    const QString path = QDir(folder).filePath(name);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open())
            qFatal("cannot create %s", qPrintable(path));
        QSqlQuery q(db);
        for (const QString& sql : statements)
            if (!q.exec(sql))
                qFatal("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return path;
}

} // namespace

class TestMessagesStore : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void dateRule_data();
    void dateRule();
    void realIos14Sms();
    void conversations_data();
    void conversations();
    void messages_data();
    void messages();
    void attachmentsMapToTheBackup_data();
    void attachmentsMapToTheBackup();
    void contactNames_data();
    void contactNames();
    void hostileRows();
    void notAMessagesDatabase_data();
    void notAMessagesDatabase();

private:
    QTemporaryDir m_dir;
    std::map<Era, MessagesDatabases::Sample> m_samples;
    std::map<Era, QString> m_sms;
    QString m_oldSms; // the iOS 6 database of the old demo: no chat tables
    QString m_addressBook;
    std::unique_ptr<TContactNames> m_names;
};

void TestMessagesStore::initTestCase()
{
    QVERIFY(m_dir.isValid());
    for (Era era : {Era::Ios5, Era::Ios10, Era::Ios17}) {
        m_samples[era] = MessagesDatabases::sms(era);
        m_sms[era] = write(m_dir.path(), QStringLiteral("sms-%1.db").arg(int(era)),
                           m_samples[era].db);
    }
    m_oldSms = write(m_dir.path(), QStringLiteral("sms-old.db"), PhoneDatabases::sms());
    m_addressBook =
        write(m_dir.path(), QStringLiteral("AddressBook.sqlitedb"), PhoneDatabases::addressBook());
    m_names = std::make_unique<TContactNames>(m_addressBook);
}

void TestMessagesStore::dateRule_data()
{
    QTest::addColumn<qint64>("stored");
    QTest::addColumn<TMessagesStore::Schema>("schema");
    QTest::addColumn<QString>("expected");
    using S = TMessagesStore::Schema;
    QTest::newRow("0 is no date") << qint64(0) << S::Ios6 << QString();
    QTest::newRow("0 is no date, iOS 5") << qint64(0) << S::Ios5 << QString();
    QTest::newRow("seconds since 2001")
        << qint64(500000000) << S::Ios6 << QStringLiteral("2016-11-05T00:53:20.000Z");
    QTest::newRow("one second") << qint64(1) << S::Ios6 << QStringLiteral("2001-01-01T00:00:01.000Z");
    QTest::newRow("before 2001") << qint64(-1) << S::Ios6 << QStringLiteral("2000-12-31T23:59:59.000Z");
    QTest::newRow("1e11 still counts seconds")
        << qint64(100000000000) << S::Ios6 << iso(100978307200000);
    QTest::newRow("above 1e11 counts nanoseconds")
        << qint64(100000000001) << S::Ios6 << QStringLiteral("2001-01-01T00:01:40.000Z");
    QTest::newRow("nanoseconds of the real iOS 14 message")
        << qint64(588813210539788032) << S::Ios6 << QStringLiteral("2019-08-29T23:13:30.539Z");
    QTest::newRow("iOS 5 counts Unix seconds")
        << qint64(1325376000) << S::Ios5 << QStringLiteral("2012-01-01T00:00:00.000Z");
    QTest::newRow("iOS 5, no overflow") << qint64(std::numeric_limits<qint64>::max()) << S::Ios5
                                        << QString();
}

void TestMessagesStore::dateRule()
{
    QFETCH(qint64, stored);
    QFETCH(TMessagesStore::Schema, schema);
    QFETCH(QString, expected);
    QCOMPARE(iso(messageDateMs(stored, schema)), expected);
}

void TestMessagesStore::realIos14Sms()
{
    const QString folder = QStringLiteral(FERROWICK_REAL_BACKUPS "/ios14-manifest-db");
    const QString sms = folder + QStringLiteral("/3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28");
    if (!QFile::exists(sms))
        QSKIP("the real backup is not beside the clone");
    const QStringList before = QDir(folder + QStringLiteral("/3d")).entryList(QDir::Files);
    // Trimmed by its publishers to message and handle: one conversation per correspondent.
    TMessagesStore store(sms);
    QCOMPARE(store.schema(), TMessagesStore::Schema::Ios6);
    const auto conversations = store.conversations();
    QCOMPARE(conversations.size(), size_t(1));
    QCOMPARE(conversations[0].messageCount, 1);
    QCOMPARE(conversationTitle(conversations[0], TContactNames()), QStringLiteral("apple"));
    const auto messages = store.messages(conversations[0].id);
    QCOMPARE(messages.size(), size_t(1));
    QCOMPARE(messages[0].text, QStringLiteral("Please click here https://badbadbad.example.org/"));
    QCOMPARE(iso(messages[0].dateMs), QStringLiteral("2019-08-29T23:13:30.539Z"));
    QCOMPARE(conversations[0].lastDateMs, messages[0].dateMs);
    QCOMPARE(messages[0].sender, QStringLiteral("apple"));
    QCOMPARE(messages[0].service, QStringLiteral("SMS"));
    QCOMPARE(QDir(folder + QStringLiteral("/3d")).entryList(QDir::Files), before);
}

void TestMessagesStore::conversations_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<TMessagesStore::Schema>("schema");
    // Newest first: "title | messages | group", then the newest conversation's last date.
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("newest");
    using S = TMessagesStore::Schema;
    const QStringList modern{QStringLiteral("+14155550123 | 1 | no"),
                             kZoe + QStringLiteral(", +14155550123 | 2 | group"),
                             kGroup + QStringLiteral(" | 5 | group"),
                             kZoe + QStringLiteral(" | %1 | no"),
                             kZhang + QStringLiteral(" | %2 | no")};
    QTest::newRow("iOS 17") << QStringLiteral("17") << S::Ios6
                            << QStringList{modern[0], modern[1], modern[2], modern[3].arg(5),
                                           modern[4].arg(6)}
                            << QStringLiteral("2023-10-26T09:06:40.000Z");
    QTest::newRow("iOS 10") << QStringLiteral("10") << S::Ios6
                            << QStringList{modern[0], modern[1], modern[2], modern[3].arg(4),
                                           modern[4].arg(5)}
                            << QStringLiteral("2016-11-05T02:00:00.000Z");
    QTest::newRow("iOS 5") << QStringLiteral("5") << S::Ios5
                           << QStringList{kZoe + QStringLiteral(" | 2 | no"),
                                          kZoe + QStringLiteral(", +14155550123 | 2 | group"),
                                          kZhang + QStringLiteral(" | 3 | no")}
                           << QStringLiteral("2012-01-01T02:01:00.000Z");
    // No chat tables: one conversation per handle, the messages without one together.
    QTest::newRow("iOS 6 without chat tables")
        << QStringLiteral("old") << S::Ios6
        << QStringList{QStringLiteral(" | 1 | no"), QStringLiteral("+14155550123 | 2 | no"),
                       kZhang + QStringLiteral(" | 3 | no"), kZoe + QStringLiteral(" | 1 | no")}
        << QStringLiteral("2015-04-06T08:00:00.000Z");
}

void TestMessagesStore::conversations()
{
    QFETCH(QString, which);
    QFETCH(TMessagesStore::Schema, schema);
    QFETCH(QStringList, expected);
    QFETCH(QString, newest);
    const QString path = which == QLatin1String("17")   ? m_sms[Era::Ios17]
                         : which == QLatin1String("10") ? m_sms[Era::Ios10]
                         : which == QLatin1String("5")  ? m_sms[Era::Ios5]
                                                        : m_oldSms;
    TMessagesStore store(path);
    QCOMPARE(store.schema(), schema);
    QStringList actual;
    const auto list = store.conversations();
    for (const TConversation& c : list)
        actual << QStringLiteral("%1 | %2 | %3")
                      .arg(conversationTitle(c, *m_names))
                      .arg(c.messageCount)
                      .arg(c.isGroup ? QStringLiteral("group") : QStringLiteral("no"));
    QCOMPARE(actual, expected);
    QCOMPARE(iso(list.front().lastDateMs), newest);
    for (size_t i = 1; i < list.size(); ++i)
        QVERIFY(list[i - 1].lastDateMs >= list[i].lastDateMs);
}

void TestMessagesStore::messages_data()
{
    QTest::addColumn<Era>("era");
    QTest::addColumn<QString>("conversation"); // its title
    QTest::addColumn<QStringList>("expected");  // summary() of each message, oldest first
    QTest::addColumn<QString>("first");         // date of the first one
    QTest::newRow("iOS 17, one to one, SMS")
        << Era::Ios17 << kZhang
        << QStringList{QStringLiteral("13800138000: 晚上一起吃饭吗？"),
                       QStringLiteral("13800138000: Bring an umbrella"),
                       QStringLiteral("me: 好的，七点见 😊"),
                       QStringLiteral("13800138000: [obj] {IMG_0001.HEIC image/heic}"),
                       QStringLiteral("me: Looks great! Where was that? [edited]"),
                       QStringLiteral("me: [obj] {IMG_0002.JPG image/jpeg} (2000 13800138000)")}
        << QStringLiteral("2023-10-26T08:00:00.000Z");
    QTest::newRow("iOS 17, media, unsent, a file missing")
        << Era::Ios17 << kZoe
        << QStringList{QStringLiteral("+49301234567: [obj]Here is the video {Saturday.mp4 "
                                      "video/mp4}"),
                       QStringLiteral("me: [obj] {Audio Message.caf audio/x-caf}"),
                       QStringLiteral("+49301234567:  [unsent]"),
                       QStringLiteral("+49301234567: [obj][obj] {Menu.pdf application/pdf} "
                                      "{IMG_0006.JPG image/jpeg}"),
                       QStringLiteral("me: Danke, bis morgen!")}
        << QStringLiteral("2023-10-26T08:16:40.000Z");
    // The like stands, the laugh was taken back, my emoji stands; a dislike aimed at another
    // chat's message is nowhere.
    const QStringList group{
        QStringLiteral("me:  [event 1/0  +14155550123]"),
        QStringLiteral("me:  [event 2/0 %1 ]").arg(kGroup),
        QStringLiteral("13800138000: <script>alert('text')</script>"),
        QStringLiteral("+49301234567: Wer bringt den Kuchen mit? (2001 +14155550123)"),
        QStringLiteral("me: Ich!")};
    QTest::newRow("iOS 17, group") << Era::Ios17 << kGroup
                                   << QStringList{group[0], group[1], group[2],
                                                  group[3] + QStringLiteral(" (2006 me🎂)"),
                                                  group[4]}
                                   << QStringLiteral("2023-10-26T08:33:20.000Z");
    QTest::newRow("iOS 10, one to one")
        << Era::Ios10 << kZhang
        << QStringList{QStringLiteral("13800138000: 晚上一起吃饭吗？"),
                       QStringLiteral("13800138000: Bring an umbrella"),
                       QStringLiteral("me: 好的，七点见 😊"),
                       QStringLiteral("me: Looks great! Where was that?"),
                       QStringLiteral("me: [obj] {IMG_0002.JPG image/jpeg} (2000 13800138000)")}
        << QStringLiteral("2016-11-05T00:53:20.000Z");
    QTest::newRow("iOS 10, group") << Era::Ios10 << kGroup << group
                                   << QStringLiteral("2016-11-05T01:26:40.000Z");
    QTest::newRow("iOS 5, SMS with an MMS")
        << Era::Ios5 << kZhang
        << QStringList{QStringLiteral("13800138000: 新年快乐！"),
                       QStringLiteral("me: Happy new year!"),
                       QStringLiteral("13800138000: Look at this {IMG_0100.jpg image/jpeg}")}
        << QStringLiteral("2012-01-01T00:00:00.000Z");
    QTest::newRow("iOS 5, group")
        << Era::Ios5 << kZoe + QStringLiteral(", +14155550123")
        << QStringList{QStringLiteral("+49 30 1234567: Wer kommt heute?"),
                       QStringLiteral("me: Ich komme um acht")}
        << QStringLiteral("2012-01-01T01:00:00.000Z");
    QTest::newRow("iOS 5, iMessage")
        << Era::Ios5 << kZoe
        << QStringList{QStringLiteral("zoe.mueller@example.de: Hi from iMessage"),
                       QStringLiteral("me: Hi Zoë")}
        << QStringLiteral("2012-01-01T02:00:00.000Z");
}

void TestMessagesStore::messages()
{
    QFETCH(Era, era);
    QFETCH(QString, conversation);
    QFETCH(QStringList, expected);
    QFETCH(QString, first);
    TMessagesStore store(m_sms[era]);
    const auto list = store.conversations();
    const auto it = std::find_if(list.begin(), list.end(), [&](const TConversation& c) {
        return conversationTitle(c, *m_names) == conversation;
    });
    QVERIFY2(it != list.end(), qPrintable(conversation));
    const auto messages = store.messages(it->id);
    QStringList actual;
    for (const TMessage& m : messages)
        actual << summary(m);
    QCOMPARE(actual, expected);
    QCOMPARE(int(messages.size()), it->messageCount);
    QCOMPARE(iso(messages.front().dateMs), first);
    for (size_t i = 1; i < messages.size(); ++i)
        QVERIFY(messages[i - 1].dateMs <= messages[i].dateMs);
    QCOMPARE(it->lastDateMs, messages.back().dateMs);
    if (era != Era::Ios5)
        for (const TMessage& m : messages)
            QVERIFY2(m.service == QLatin1String("SMS") || m.service == QLatin1String("iMessage"),
                     qPrintable(m.guid));
}

void TestMessagesStore::attachmentsMapToTheBackup_data()
{
    QTest::addColumn<Era>("era");
    QTest::addColumn<int>("present");
    QTest::newRow("iOS 17, ~/ paths") << Era::Ios17 << 5;
    QTest::newRow("iOS 10, /var/mobile/ paths") << Era::Ios10 << 4;
}

void TestMessagesStore::attachmentsMapToTheBackup()
{
    QFETCH(Era, era);
    QFETCH(int, present);
    // The sample goes into a backup as the demo does it; each file the model names is either
    // an entry of MediaDomain there or the one the backup lacks.
    SampleBackup backup;
    MessagesDatabases::addMessages(backup, era);
    QHash<QString, QByteArray> entries;
    for (const SampleBackup::Entry& e : backup.entries())
        if (e.domain == QLatin1String("MediaDomain"))
            entries.insert(e.path, e.content);
    TMessagesStore store(m_sms[era]);
    int found = 0;
    QStringList missing;
    for (const TConversation& c : store.conversations())
        for (const TMessage& m : store.messages(c.id))
            for (const TMessageAttachment& a : m.attachments) {
                QCOMPARE(a.domain, QStringLiteral("MediaDomain"));
                QVERIFY2(a.path.startsWith(QLatin1String("Library/SMS/Attachments/")) &&
                             a.path.endsWith(QLatin1Char('/') + a.name),
                         qPrintable(a.path));
                if (entries.contains(a.path)) {
                    ++found;
                    QCOMPARE(a.totalBytes, qint64(entries[a.path].size()));
                } else {
                    missing << a.path;
                }
            }
    QCOMPARE(found, present);
    QCOMPARE(missing, m_samples[era].missingFiles);
    QCOMPARE(missing.size(), 1);
    if (era == Era::Ios17) {
        const auto heic = std::find_if(entries.begin(), entries.end(), [](const QByteArray& b) {
            return b.mid(4, 8) == "ftypheic";
        });
        QVERIFY2(heic != entries.end(), "a real HEIC file");
    }
}

void TestMessagesStore::contactNames_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("name");
    // The address book holds +8613800138000 and 13900139000 (张伟), +49 30 1234567 and
    // zoe.mueller@example.de (Zoë).
    QTest::newRow("same spelling") << QStringLiteral("+8613800138000") << kZhang;
    QTest::newRow("without country code") << QStringLiteral("13800138000") << kZhang;
    QTest::newRow("00 prefix and spaces") << QStringLiteral("0086 138 0013 8000") << kZhang;
    QTest::newRow("dashes") << QStringLiteral("138-0013-8000") << kZhang;
    QTest::newRow("second number") << QStringLiteral("+86 139 0013 9000") << kZhang;
    QTest::newRow("last nine digits decide")
        << QStringLiteral("+1 338 0013 8000") << kZhang;
    QTest::newRow("one digit off") << QStringLiteral("13800138001") << QString();
    QTest::newRow("compact") << QStringLiteral("+49301234567") << kZoe;
    QTest::newRow("national") << QStringLiteral("030 1234567") << kZoe;
    QTest::newRow("seven digits against eleven") << QStringLiteral("1234567") << kZoe;
    QTest::newRow("six digits are a short code") << QStringLiteral("234567") << QString();
    QTest::newRow("e-mail in other case") << QStringLiteral("ZOE.Mueller@Example.DE") << kZoe;
    QTest::newRow("other e-mail") << QStringLiteral("zoe.mueller@example.com") << QString();
    QTest::newRow("nobody") << QStringLiteral("+14155550123") << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("no digits") << QStringLiteral("apple") << QString();
}

void TestMessagesStore::contactNames()
{
    QFETCH(QString, address);
    QFETCH(QString, name);
    QCOMPARE(m_names->nameOf(address), name);
    QCOMPARE(m_names->nameOf(address), name); // the second answer comes from the cache
    QCOMPARE(TContactNames().nameOf(address), QString());
}

void TestMessagesStore::hostileRows()
{
    QTemporaryDir dir;
    // Only a few columns, and rows that point nowhere or hold nothing.
    const QString path = handMade(
        dir.path(), QStringLiteral("hostile.db"),
        {QStringLiteral("CREATE TABLE handle (ROWID INTEGER PRIMARY KEY, id TEXT)"),
         QStringLiteral("CREATE TABLE message (ROWID INTEGER PRIMARY KEY, guid TEXT, text TEXT, "
                        "attributedBody BLOB, handle_id INTEGER, date INTEGER, is_from_me "
                        "INTEGER, associated_message_guid TEXT, associated_message_type INTEGER)"),
         QStringLiteral("CREATE TABLE chat (ROWID INTEGER PRIMARY KEY, chat_identifier TEXT)"),
         QStringLiteral("CREATE TABLE chat_message_join (chat_id INTEGER, message_id INTEGER)"),
         QStringLiteral("CREATE TABLE chat_handle_join (chat_id INTEGER, handle_id INTEGER)"),
         QStringLiteral("CREATE TABLE attachment (ROWID INTEGER PRIMARY KEY, filename TEXT, "
                        "transfer_name TEXT)"),
         QStringLiteral("CREATE TABLE message_attachment_join (message_id INTEGER, "
                        "attachment_id INTEGER)"),
         QStringLiteral("INSERT INTO handle VALUES (1, '+8613800138000')"),
         QStringLiteral("INSERT INTO chat VALUES (1, '+8613800138000')"),
         QStringLiteral("INSERT INTO chat_handle_join VALUES (1, 1), (1, 77)"),
         // 1: NULL everywhere; 2: a garbage attributedBody; 3: a truncated typedstream;
         // 4: joined to a chat that does not exist; 5: a reaction without a target;
         // 6: a reaction whose guid names nothing; 7: a plain message with odd files.
         QStringLiteral("INSERT INTO message VALUES (1, NULL, NULL, NULL, NULL, NULL, NULL, "
                        "NULL, NULL)"),
         QStringLiteral("INSERT INTO message VALUES (2, 'G2', NULL, x'deadbeef00ff', 1, 10, 0, "
                        "NULL, 0)"),
         QStringLiteral("INSERT INTO message VALUES (3, 'G3', NULL, "
                        "x'040b73747265616d747970656481e803840140848484', 1, 20, 0, NULL, 0)"),
         QStringLiteral("INSERT INTO message VALUES (4, 'G4', 'lost', NULL, 1, 30, 0, NULL, 0)"),
         QStringLiteral("INSERT INTO message VALUES (5, 'G5', 'Liked', NULL, 1, 40, 0, NULL, "
                        "2001)"),
         QStringLiteral("INSERT INTO message VALUES (6, 'G6', 'Liked', NULL, 1, 50, 0, 'p:', "
                        "2001)"),
         QStringLiteral("INSERT INTO message VALUES (7, 'G7', 'files', NULL, 1, 60, 1, NULL, 0)"),
         QStringLiteral("INSERT INTO chat_message_join VALUES (1, 1), (1, 2), (1, 3), (99, 4), "
                        "(1, 5), (1, 6), (1, 7), (1, 1234)"),
         QStringLiteral("INSERT INTO attachment VALUES (1, '/etc/passwd', NULL), "
                        "(2, NULL, '../../.config/evil' || char(10) || '.sh'), (3, NULL, NULL), "
                        "(4, '~/Library/SMS/Attachments/x/IMG.JPG', '..')"),
         QStringLiteral("INSERT INTO message_attachment_join VALUES (7, 1), (7, 2), (7, 3), "
                        "(7, 4), (7, 99), (4, 1)")});
    TMessagesStore store(path);
    const auto list = store.conversations();
    QCOMPARE(list.size(), size_t(1));
    QCOMPARE(list[0].messageCount, 4);
    QCOMPARE(list[0].members, QStringList{QStringLiteral("+8613800138000")});
    QCOMPARE(conversationTitle(list[0], *m_names), kZhang);
    const auto messages = store.messages(1);
    QStringList actual;
    for (const TMessage& m : messages)
        actual << QString::number(m.rowId) + QLatin1Char(' ') + summary(m);
    QCOMPARE(actual, (QStringList{QStringLiteral("1 : "), QStringLiteral("2 +8613800138000: "),
                                  QStringLiteral("3 +8613800138000: "),
                                  QStringLiteral("7 me: files {passwd } {evil.sh } "
                                                 "{attachment } {IMG.JPG }")}));
    QCOMPARE(messages[0].dateMs, qint64(0));
    // Only a path under the phone's home folder leads into the backup.
    const auto& files = messages[3].attachments;
    QCOMPARE(files[0].domain, QString());
    QCOMPARE(files[0].path, QString());
    QCOMPARE(files[1].domain, QString());
    QCOMPARE(files[3].domain, QStringLiteral("MediaDomain"));
    QCOMPARE(files[3].path, QStringLiteral("Library/SMS/Attachments/x/IMG.JPG"));
    QVERIFY(store.messages(12345).empty());
    QVERIFY(store.messages(-1).empty());
}

void TestMessagesStore::notAMessagesDatabase_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing file") << QStringLiteral("missing");
    QTest::newRow("not SQLite") << QStringLiteral("garbage");
    QTest::newRow("another database") << QStringLiteral("other");
}

void TestMessagesStore::notAMessagesDatabase()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QString path = QDir(dir.path()).filePath(QStringLiteral("none.db"));
    if (kind == QLatin1String("garbage"))
        path = write(dir.path(), QStringLiteral("garbage.db"), QByteArray(4096, 'x'));
    else if (kind == QLatin1String("other"))
        path = handMade(dir.path(), QStringLiteral("other.db"),
                        {QStringLiteral("CREATE TABLE call (ROWID INTEGER PRIMARY KEY)")});
    QVERIFY_THROWS_EXCEPTION(Error, TMessagesStore{path});
    QVERIFY_THROWS_EXCEPTION(Error, TContactNames{path});
    QVERIFY(!QFile::exists(QDir(dir.path()).filePath(QStringLiteral("none.db"))));
}

QTEST_GUILESS_MAIN(TestMessagesStore)
#include "tst_messagesstore.moc"
