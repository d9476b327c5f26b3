#include "ChatFixture.h"
#include "FolderSnapshot.h"
#include "chat/WechatAccount.h"

#include <QSqlDatabase>
#include <QtTest>

Q_DECLARE_METATYPE(wechat::Friend)

class TestWechatAccount final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void name_data();
    void name();
    void unreadableDatabaseGoesByItsFolder_data();
    void unreadableDatabaseGoesByItsFolder();
    void sharedNamesCarryTheirFolders();
    void currentVersionNamesTheOwnerInItsContacts();
    void readingLeavesTheFolderAsItWas();

private:
    QString writeFile(const QString& name, const QByteArray& bytes);
    QTemporaryDir m_dir;
};

namespace {

const QString kOwner = QStringLiteral("wxid_owner");

QString rootOf(const QString& folder)
{
    return QStringLiteral("Applications/com.tencent.xin/Documents/%1/").arg(folder);
}

} // namespace

void TestWechatAccount::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

QString TestWechatAccount::writeFile(const QString& name, const QByteArray& bytes)
{
    const QString path = m_dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return {};
    return path;
}

void TestWechatAccount::name_data()
{
    QTest::addColumn<QList<wechat::Friend>>("friends");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    const QString folder = md5Hex(kOwner);
    const wechat::Friend alice{QStringLiteral("wxid_alice"), QStringLiteral("Alice"), {}, 3};
    QTest::newRow("own row") << QList<wechat::Friend>{alice, {kOwner, "Sam Lee", {}, 3}} << folder
                             << "Sam Lee";
    QTest::newRow("own row in Chinese")
        << QList<wechat::Friend>{{kOwner, QStringLiteral("陈明"), {}, 3}} << folder
        << QStringLiteral("陈明");
    // A contact's nickname never names the account, whatever the order of the rows.
    QTest::newRow("no own row") << QList<wechat::Friend>{alice} << folder << folder;
    QTest::newRow("own row of another account")
        << QList<wechat::Friend>{{kOwner, "Sam Lee", {}, 3}} << md5Hex(QStringLiteral("wxid_other"))
        << md5Hex(QStringLiteral("wxid_other"));
    QTest::newRow("blank nickname")
        << QList<wechat::Friend>{{kOwner, " \t", {}, 3}} << folder << folder;
    QTest::newRow("line breaks and controls flattened")
        << QList<wechat::Friend>{{kOwner, QStringLiteral("Sam\nLee\u202e\x01"), {}, 3}} << folder
        << "Sam Lee";
    QTest::newRow("long nickname shortened")
        << QList<wechat::Friend>{{kOwner, QString(200, QLatin1Char('x')), {}, 3}} << folder
        << QString(63, QLatin1Char('x')) + QStringLiteral("…");
}

void TestWechatAccount::name()
{
    QFETCH(QList<wechat::Friend>, friends);
    QFETCH(QString, folder);
    QFETCH(QString, name);
    wechat::Database db;
    db.friends.assign(friends.begin(), friends.end());
    const QString path =
        writeFile(QStringLiteral("MM-%1.sqlite").arg(QTest::currentDataTag()), db.bytes());
    QVERIFY(!path.isEmpty());
    QCOMPARE(wechatAccountName(path, rootOf(folder)), name);
}

void TestWechatAccount::unreadableDatabaseGoesByItsFolder_data()
{
    QTest::addColumn<QByteArray>("bytes"); // empty: no file at all
    QTest::newRow("missing") << QByteArray();
    QTest::newRow("not a database") << QByteArray("not a SQLite database at all", 28);
    QTest::newRow("truncated") << wechat::Database{}.bytes().left(100);
    // A -shm file that was taken for an account before: all zeros.
    QTest::newRow("shared-memory file") << QByteArray(32768, '\0');
}

void TestWechatAccount::unreadableDatabaseGoesByItsFolder()
{
    QFETCH(QByteArray, bytes);
    const QString folder = md5Hex(kOwner);
    const QString path =
        bytes.isEmpty() ? m_dir.filePath(QStringLiteral("absent.sqlite"))
                        : writeFile(QStringLiteral("bad-%1").arg(QTest::currentDataTag()), bytes);
    QVERIFY(!path.isEmpty());
    QCOMPARE(wechatAccountName(path, rootOf(folder)), folder);
    // No connection is left behind.
    QVERIFY(QSqlDatabase::connectionNames().isEmpty());
}

void TestWechatAccount::sharedNamesCarryTheirFolders()
{
    const QString a = md5Hex(QStringLiteral("wxid_a")), b = md5Hex(QStringLiteral("wxid_b")),
                  c = md5Hex(QStringLiteral("wxid_c"));
    auto account = [&](const QString& id, const QString& nick) {
        wechat::Database db;
        db.friends = {{id, nick, {}, 3}};
        return writeFile(QStringLiteral("shared-%1.sqlite").arg(id), db.bytes());
    };
    const QStringList paths = {account("wxid_a", "Sam"), account("wxid_b", "Sam"),
                               account("wxid_c", "Kim")};
    QCOMPARE(wechatAccountNames(paths, {rootOf(a), rootOf(b), rootOf(c)}),
             (QStringList{QStringLiteral("Sam (%1)").arg(a), QStringLiteral("Sam (%1)").arg(b),
                          QStringLiteral("Kim")}));
    // One name per pair of database and root, no more.
    QCOMPARE(wechatAccountNames(paths, {rootOf(a)}), QStringList{QStringLiteral("Sam")});
}

void TestWechatAccount::currentVersionNamesTheOwnerInItsContacts()
{
    // MM.sqlite of a current version may lack the owner's row; WCDB_Contact.sqlite has it, the
    // nickname inside its protobuf blob. Without either the folder names the account.
    wechat::Database mm;
    mm.friends = {{QStringLiteral("wxid_alice"), QStringLiteral("Alice"), {}, 3}};
    wechat::ContactDatabase contacts;
    contacts.contacts = {{kOwner, wechat::contactRemark(QStringLiteral("林晓"), {}, {}), 3}};
    const QString mmPath = writeFile(QStringLiteral("current-MM.sqlite"), mm.bytes());
    const QString contactsPath =
        writeFile(QStringLiteral("current-WCDB_Contact.sqlite"), contacts.bytes());
    const QString root = rootOf(md5Hex(kOwner));
    QCOMPARE(wechatAccountName(mmPath, root, contactsPath), QStringLiteral("林晓"));
    QCOMPARE(wechatAccountName(contactsPath, root), QStringLiteral("林晓"));
    QCOMPARE(wechatAccountName(mmPath, root), md5Hex(kOwner));
}

void TestWechatAccount::readingLeavesTheFolderAsItWas()
{
    // The copies lie in the backup folder: reading a name writes nothing beside them.
    QTemporaryDir backup;
    wechat::Database db;
    db.friends = {{kOwner, "Sam Lee", {}, 3}};
    const QString path = backup.filePath(QStringLiteral("0a1b2c"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(db.bytes());
    f.close();
    const auto before = folderSnapshot(backup.path());
    QCOMPARE(wechatAccountName(path, rootOf(md5Hex(kOwner))), QStringLiteral("Sam Lee"));
    QCOMPARE(folderSnapshot(backup.path()), before);
}

QTEST_GUILESS_MAIN(TestWechatAccount)
#include "tst_wechataccount.moc"
