#include "ChatFixture.h"
#include "FolderSnapshot.h"
#include "chat/ChatSession.h"
#include "chat/FriendInfo.h"
#include "util/Error.h"

#include <QtTest>

#include <algorithm>

class TestChatFriends final : public QObject
{
    Q_OBJECT

private slots:
    void remarkName_data();
    void remarkName();
    void classAndDisplayName_data();
    void classAndDisplayName();
    void sortOrder();
    void initFriendsListsAndSorts();
    void missingDatabaseIsAnError();
    void duplicateIdStopsLoading();
};

void TestChatFriends::remarkName_data()
{
    QTest::addColumn<QByteArray>("shortPy");
    QTest::addColumn<QString>("remark");
    QTest::newRow("Alice") << QByteArray::fromHex("0a05416c69636512 00") << "Alice";
    QTest::newRow("0A 00 none") << QByteArray::fromHex("0a0041") << "";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("one byte") << QByteArray::fromHex("0a") << "";
    QTest::newRow("no 0x12") << QByteArray::fromHex("0a05416c696365") << "";
    // An 18-byte remark has the length byte 0x12: the search stops there.
    QTest::newRow("length byte 0x12")
        << wechat::remarkRecord(QStringLiteral("abcdefghijklmnopqr")) << "";
    QTest::newRow("utf-8") << wechat::remarkRecord(QStringLiteral("小明"))
                           << QStringLiteral("小明");
}

void TestChatFriends::remarkName()
{
    QFETCH(QByteArray, shortPy);
    QFETCH(QString, remark);
    QCOMPARE(decodeRemarkName(shortPy), remark);
}

void TestChatFriends::classAndDisplayName_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("usrName");
    QTest::addColumn<QString>("remark");
    QTest::addColumn<QString>("nick");
    QTest::addColumn<int>("cls");
    QTest::addColumn<QString>("display");
    const int fr = int(TFriendClass::fcFriends), gr = int(TFriendClass::fcGroups),
              ot = int(TFriendClass::fcOthers);
    QTest::newRow("friend with remark") << 3 << "wxid_a"
                                        << "Alice"
                                        << "Bob" << fr << "Alice(Bob)";
    QTest::newRow("remark trimmed") << 3 << "wxid_a"
                                    << " Alice\t"
                                    << "Bob" << fr << "Alice(Bob)";
    QTest::newRow("<2></2> remark") << 3 << "wxid_a"
                                    << "x<2></2>"
                                    << "Bob" << fr << "Bob";
    QTest::newRow("type 2 without chatroom") << 2 << "wxid_g"
                                             << ""
                                             << "Team" << gr << "Team";
    QTest::newRow("gh_ whatever type") << 2 << "gh_news"
                                       << ""
                                       << "News" << ot << "News";
    QTest::newRow("gh_ and chatroom") << 3 << "gh_1@chatroom"
                                      << ""
                                      << "Both" << gr << "Both";
    QTest::newRow("type 67") << 67 << "wxid_x"
                             << ""
                             << "X" << ot << "X";
    QTest::newRow("unnamed group") << 2 << "1@chatroom"
                                   << ""
                                   << " " << gr << QStringLiteral("未命名聊天群");
}

void TestChatFriends::classAndDisplayName()
{
    QFETCH(int, type);
    QFETCH(QString, usrName);
    QFETCH(QString, remark);
    QFETCH(QString, nick);
    QFETCH(int, cls);
    QFETCH(QString, display);
    QCOMPARE(int(friendClass(type, usrName)), cls);
    QCOMPARE(friendDisplayName(remark, nick), display);
}

void TestChatFriends::sortOrder()
{
    QStringList names{QStringLiteral("carol"), QStringLiteral("Bob"),  QStringLiteral("alice"),
                      QStringLiteral("ali"),   QStringLiteral("Ália"), QStringLiteral("1x")};
    std::sort(names.begin(), names.end(), chatListLess);
    QCOMPARE(names,
             (QStringList{QStringLiteral("1x"), QStringLiteral("ali"), QStringLiteral("alice"),
                          QStringLiteral("Bob"), QStringLiteral("carol"), QStringLiteral("Ália")}));
}

void TestChatFriends::initFriendsListsAndSorts()
{
    wechat::Database db;
    db.friends = {
        {QStringLiteral("wxid_c"), QStringLiteral("carol"), {}, 3},
        {QStringLiteral("wxid_b"), QStringLiteral("Bob"),
         wechat::remarkRecord(QStringLiteral("Bob")), 3},
        {QStringLiteral("wxid_a"), QStringLiteral("Ally"),
         wechat::remarkRecord(QStringLiteral("alice")), 3},
        {QStringLiteral("wxid_nochat"), QStringLiteral("Nobody"), {}, 3},
        {QStringLiteral("wxid_type4"), QStringLiteral("Hidden"), {}, 4},
        {QStringLiteral("9@chatroom"), QStringLiteral("Family"), {}, 2},
        {QStringLiteral("gh_x"), QStringLiteral("Paper"), {}, 3},
    };
    for (const char* id : {"wxid_c", "wxid_b", "wxid_a", "wxid_type4", "9@chatroom", "gh_x"})
        db.chats[QLatin1String(id)] = {{1, QStringLiteral("x"), 1, 1, 1}};
    ChatFixture fx(accountBackup(db));
    const auto before = folderSnapshot(fx.backupPath);

    TChatSession session(fx.dbPath, fx.recordDict, fx.backupPath, fx.root, fx.tempPath);
    session.InitFriends();
    auto names = [&](TFriendClass c) {
        QStringList out;
        for (const TFriendInfo* f : session.listed(c))
            out << f->DisplayName;
        return out;
    };
    QCOMPARE(names(TFriendClass::fcFriends),
             (QStringList{QStringLiteral("alice(Ally)"), QStringLiteral("Bob"),
                          QStringLiteral("carol")}));
    QCOMPARE(names(TFriendClass::fcGroups), QStringList{QStringLiteral("Family")});
    QCOMPARE(names(TFriendClass::fcOthers), QStringList{QStringLiteral("Paper")});

    const TFriendInfo* nobody = session.friendInfo(QStringLiteral("wxid_nochat"));
    QVERIFY(nobody); // unlisted, still known for group-member names
    QCOMPARE(nobody->TableName, QStringLiteral("Chat_") + md5Hex(QStringLiteral("wxid_nochat")));
    QVERIFY(!session.friendInfo(QStringLiteral("wxid_type4")));
    QCOMPARE(session.friendInfo(QStringLiteral("wxid_b"))->RemarkName, QString()); // equal to nick
    QCOMPARE(session.friendInfo(QStringLiteral("wxid_a"))->Pinyin, QStringLiteral("alice"));

    for (const char* sub : {"Audio", "Image", "Video"})
        QVERIFY(QFileInfo(fx.tempPath + QLatin1Char('/') + QLatin1String(sub)).isDir());
    QCOMPARE(session.tempFile(), fx.tempPath + QStringLiteral("/wechathistory.html"));
    QCOMPARE(folderSnapshot(fx.backupPath), before); // nothing written beside the database
}

void TestChatFriends::missingDatabaseIsAnError()
{
    QTemporaryDir dir;
    const QHash<QString, QString> dict;
    TChatSession session(dir.filePath(QStringLiteral("nope/MM.sqlite")), dict, dir.path(),
                         QStringLiteral("Applications/com.tencent.xin/Documents/x/"),
                         dir.filePath(QStringLiteral("t")));
    QVERIFY_THROWS_EXCEPTION(Error, session.InitFriends());
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("nope/MM.sqlite"))));
}

void TestChatFriends::duplicateIdStopsLoading()
{
    wechat::Database db;
    db.friends = {{QStringLiteral("wxid_z"), QStringLiteral("Zed"), {}, 3},
                  {QStringLiteral("wxid_a"), QStringLiteral("Ann"), {}, 3},
                  {QStringLiteral("wxid_a"), QStringLiteral("Ann again"), {}, 3},
                  {QStringLiteral("wxid_b"), QStringLiteral("Bea"), {}, 3}};
    for (const char* id : {"wxid_z", "wxid_a", "wxid_b"})
        db.chats[QLatin1String(id)] = {{1, QStringLiteral("x"), 1, 1, 1}};
    ChatFixture fx(accountBackup(db));
    TChatSession session(fx.dbPath, fx.recordDict, fx.backupPath, fx.root, fx.tempPath);
    try {
        session.InitFriends();
        QFAIL("a duplicate id must fail");
    } catch (const Error& e) {
        QCOMPARE(e.message(), QStringLiteral("Duplicates not allowed"));
    }
    // Loading stopped at the duplicate: the entries so far stay, unsorted; Bea never came.
    QStringList names;
    for (const TFriendInfo* f : session.listed(TFriendClass::fcFriends))
        names << f->DisplayName;
    QCOMPARE(names, (QStringList{QStringLiteral("Zed"), QStringLiteral("Ann"),
                                 QStringLiteral("Ann again")}));
    QVERIFY(!session.friendInfo(QStringLiteral("wxid_b")));
}

QTEST_GUILESS_MAIN(TestChatFriends)
#include "tst_chatfriends.moc"
