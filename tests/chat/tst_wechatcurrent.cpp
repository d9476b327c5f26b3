// WeChat of current versions: accounts whose contacts live in WCDB_Contact.sqlite and whose
// conversations are spread over MM.sqlite and the message_N.sqlite shards, media partly in the
// app-group container; and the reading of a conversation apart from its rendering.
#include "ChatFixture.h"
#include "app/RecordIndex.h"
#include "FolderSnapshot.h"
#include "chat/ChatConversation.h"
#include "chat/ChatExport.h"
#include "chat/ChatPage.h"
#include "chat/ChatSession.h"
#include "chat/FriendInfo.h"
#include "chat/ProtobufFields.h"
#include "util/Error.h"

#include <QtTest>

namespace {

const QString kRoot = QStringLiteral("Applications/com.tencent.xin/Documents/%1/");
const QString kAccountHex = QStringLiteral("0123456789abcdef0123456789abcdef");

// A written backup with the current-layout account, indexed as the main window does.
struct CurrentFixture
{
    SampleBackup backup;
    std::unique_ptr<ChatFixture> fx;
    QHash<QString, QString> groupFiles;
    QString root;

    explicit CurrentFixture(bool withMm = true)
    {
        wechat::addCurrentWechatAccount(backup);
        if (!withMm) {
            auto& e = backup.entries();
            e.erase(std::remove_if(e.begin(), e.end(),
                                   [](const SampleBackup::Entry& x) {
                                       return x.path.endsWith(QLatin1String("/DB/MM.sqlite"));
                                   }),
                    e.end());
        }
        fx = std::make_unique<ChatFixture>(backup);
        root = kRoot.arg(wechat::accountFolder(wechat::kCurrentAccount));
        for (const SampleBackup::Entry& e : backup.entries())
            if (e.domain == QLatin1String(wechat::kGroupDomain))
                groupFiles.insert(e.path, SampleBackup::keyOf(e));
    }

    // The session as the Wechat button opens it: MM.sqlite given when the account has one.
    std::unique_ptr<TChatSession> open() const
    {
        const QString mm = fx->recordDict.value(root + QStringLiteral("DB/MM.sqlite"));
        auto session = std::make_unique<TChatSession>(
            mm.isEmpty() ? QString() : GetRealFileName(fx->backupPath, mm), fx->recordDict,
            fx->backupPath, root, fx->tempPath);
        session->setGroupFiles(&groupFiles);
        session->InitFriends();
        return session;
    }
};

QStringList names(const TChatSession& session, TFriendClass c)
{
    QStringList out;
    for (const TFriendInfo* f : session.listed(c))
        out << f->DisplayName;
    return out;
}

QStringList texts(const TChatConversation& c)
{
    QStringList out;
    for (int i = 0; i < c.count(); ++i)
        out << QStringLiteral("%1:%2").arg(c.row(i).localId).arg(c.row(i).type);
    return out;
}

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class TestWechatCurrent final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void protobufFields_data();
    void protobufFields();
    void contactRemark_data();
    void contactRemark();
    void demoAccountThroughTheIndex();
    void shardsMergeIntoOneList_data();
    void shardsMergeIntoOneList();
    void conversationMergedOverDatabases();
    void conversationOnlyInThirdShard();
    void entriesOfAnyRangeAreThePage();
    void unreadableShardIsLeftOut();
    void contactsWhenOneListIsMissing_data();
    void contactsWhenOneListIsMissing();
    void exportFolderIsSelfContained();
    void exportCsv();
};

void TestWechatCurrent::initTestCase()
{
    // The old account's SILK voice is decoded by the program built beside ferrowick.
    qputenv("PATH", QByteArray(FERROWICK_BINARY_DIR "/src:") + qgetenv("PATH"));
}

void TestWechatCurrent::protobufFields_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("field");
    QTest::addColumn<QByteArray>("expected"); // "<none>" when absent
    QTest::newRow("first field") << QByteArray::fromHex("0a03616263") << 1 << QByteArray("abc");
    QTest::newRow("after varint, fixed64 and fixed32")
        << QByteArray::fromHex("08ac02 11 0102030405060708 1d01020304 1a0178") << 3
        << QByteArray("x");
    QTest::newRow("present and empty") << QByteArray::fromHex("1200") << 2 << QByteArray("");
    QTest::newRow("absent") << QByteArray::fromHex("0a0161") << 2 << QByteArray("<none>");
    // A length past the end stops the reading: nothing is read beyond the data.
    QTest::newRow("length past the end") << QByteArray::fromHex("0a0161 1a7f6263") << 3
                                         << QByteArray("<none>");
    QTest::newRow("fields before a bad one stay") << QByteArray::fromHex("0a0161 1a7f6263") << 1
                                                  << QByteArray("a");
    QTest::newRow("huge length") << QByteArray::fromHex("1affffffffffffffffff01") << 3
                                 << QByteArray("<none>");
    QTest::newRow("varint without end") << QByteArray::fromHex("0a0161 08ffffff") << 1
                                        << QByteArray("a");
    QTest::newRow("group wire type ends it") << QByteArray::fromHex("0b 1a0178") << 3
                                             << QByteArray("<none>");
    QTest::newRow("field as varint is no bytes") << QByteArray::fromHex("0805 1a0178") << 1
                                                 << QByteArray("<none>");
    QTest::newRow("empty data") << QByteArray() << 1 << QByteArray("<none>");
}

void TestWechatCurrent::protobufFields()
{
    QFETCH(QByteArray, data);
    QFETCH(int, field);
    QFETCH(QByteArray, expected);
    const std::optional<QByteArray> got = ProtobufFields(data).bytes(quint32(field));
    QCOMPARE(got.value_or(QByteArray("<none>")), expected);
}

void TestWechatCurrent::contactRemark_data()
{
    QTest::addColumn<QByteArray>("blob");
    QTest::addColumn<QString>("nickName");
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("remark");
    QTest::addColumn<QString>("displayName");
    using wechat::contactRemark;
    QTest::newRow("remark and nickname")
        << contactRemark("Grace", {}, "Gracie") << "Grace" << "" << "Gracie" << "Gracie(Grace)";
    QTest::newRow("nickname only") << contactRemark("Henry", {}, {}) << "Henry" << "" << ""
                                   << "Henry";
    QTest::newRow("alias too") << contactRemark("Henry", "henry_h", {}) << "Henry" << "henry_h"
                               << "" << "Henry";
    QTest::newRow("alias only") << contactRemark({}, "ivy_88", {}) << "" << "ivy_88" << ""
                                << "ivy_88";
    QTest::newRow("remark equal to nickname") << contactRemark("Jo", {}, "Jo") << "Jo" << ""
                                              << "Jo" << "Jo";
    QTest::newRow("utf-8") << contactRemark(QStringLiteral("小明"), {}, QStringLiteral("明哥"))
                           << QStringLiteral("小明") << "" << QStringLiteral("明哥")
                           << QStringLiteral("明哥(小明)");
    QTest::newRow("fields in another order")
        << QByteArray::fromHex("1a024b61 0a034b6174") << "Kat" << "" << "Ka" << "Ka(Kat)";
    QTest::newRow("truncated remark") << QByteArray::fromHex("0a034b6174 1a05") << "Kat" << ""
                                      << "" << "Kat";
    QTest::newRow("nothing") << QByteArray() << "" << "" << "" << QStringLiteral("未命名聊天群");
    QTest::newRow("garbage") << QByteArray::fromHex("ffffffffffffffffffffff") << "" << "" << ""
                             << QStringLiteral("未命名聊天群");
}

void TestWechatCurrent::contactRemark()
{
    QFETCH(QByteArray, blob);
    QFETCH(QString, nickName);
    QFETCH(QString, alias);
    QFETCH(QString, remark);
    QFETCH(QString, displayName);
    const TContactRemark decoded = decodeContactRemark(blob);
    QCOMPARE(decoded.nickName, nickName);
    QCOMPARE(decoded.alias, alias);
    QCOMPARE(decoded.remark, remark);

    // The same blob read from a WCDB_Contact.sqlite, as the contact list shows it.
    wechat::ContactDatabase contacts;
    contacts.contacts = {{QStringLiteral("wxid_x"), blob, 3}};
    wechat::Database shard;
    shard.friendTable = false;
    shard.chats[QStringLiteral("wxid_x")] = {{1, QStringLiteral("hi"), 1, 1, 1}};
    SampleBackup backup;
    const QString domain = QLatin1String(wechat::kDomain);
    const QString db = QStringLiteral("Documents/%1/DB/").arg(kAccountHex);
    backup.addFile(domain, db + QStringLiteral("WCDB_Contact.sqlite"), contacts.bytes());
    backup.addFile(domain, db + QStringLiteral("message_1.sqlite"), shard.bytes());
    ChatFixture fx(backup);
    TChatSession session({}, fx.recordDict, fx.backupPath, kRoot.arg(kAccountHex), fx.tempPath);
    session.InitFriends();
    QCOMPARE(names(session, TFriendClass::fcFriends), QStringList{displayName});
}

void TestWechatCurrent::demoAccountThroughTheIndex()
{
    // The second demo backup, indexed record by record as the main window does: one account,
    // its entry the account's MM.sqlite, and the app-group container's files at hand.
    const SampleBackup backup = SampleBackup::demoCurrent();
    ChatFixture fx(backup);
    TRecordIndex index;
    for (const SampleBackup::Entry& e : backup.entries()) {
        TBackupFileRecord record;
        record.Domain = e.domain;
        record.Path = e.path;
        record.Key = SampleBackup::keyOf(e);
        index.indexRecord(record, treePathOf(record.Domain, record.Path));
    }
    const QString root = kRoot.arg(wechat::accountFolder(wechat::kCurrentAccount));
    QCOMPARE(index.FWechatRoots, QStringList{root});
    QCOMPARE(index.FWechatDbs,
             QStringList{index.FRecordDict.value(root + QStringLiteral("DB/MM.sqlite"))});
    QCOMPARE(index.FWechatGroupFiles.size(), 4);
    // As the main window hands it over: the files of WeChat's folders.
    const QHash<QString, QString> wechatFiles =
        index.FRecordDict.below(u"Applications/com.tencent.xin");
    TChatSession session(GetRealFileName(fx.backupPath, index.FWechatDbFile), wechatFiles,
                         fx.backupPath, index.FWechatRoot, fx.tempPath);
    session.setGroupFiles(&index.FWechatGroupFiles);
    session.InitFriends();
    QCOMPARE(names(session, TFriendClass::fcFriends),
             (QStringList{"Gracie(Grace)", "Henry", "ivy_88"}));
    QVERIFY(session.buildPage(*session.friendInfo(QStringLiteral("wxid_ivy")), {}));
    QVERIFY(QFileInfo(session.tempFolder("Image") + QStringLiteral("2.jpg")).size() > 1000);
}

void TestWechatCurrent::shardsMergeIntoOneList_data()
{
    QTest::addColumn<bool>("withMm");
    QTest::newRow("MM.sqlite and shards") << true;
    QTest::newRow("shards without MM.sqlite") << false;
}

void TestWechatCurrent::shardsMergeIntoOneList()
{
    QFETCH(bool, withMm);
    const CurrentFixture current(withMm);
    const auto before = folderSnapshot(current.fx->backupPath);
    const auto session = current.open();
    QStringList databases = {"MM.sqlite", "WCDB_Contact.sqlite", "message_1.sqlite",
                             "message_2.sqlite", "message_3.sqlite"};
    if (!withMm)
        databases.removeFirst();
    QCOMPARE(session->databaseNames(), databases);
    QVERIFY(session->warnings().isEmpty());
    // Grace's newer names from WCDB_Contact.sqlite win over MM.sqlite's; Quiet has no table.
    QCOMPARE(names(*session, TFriendClass::fcFriends),
             (QStringList{"Gracie(Grace)", "Henry", "ivy_88"}));
    QCOMPARE(names(*session, TFriendClass::fcGroups), QStringList{"Hiking Club"});
    QCOMPARE(names(*session, TFriendClass::fcOthers), QStringList{"Weather Daily"});
    QVERIFY(session->friendInfo(QStringLiteral("wxid_quiet")));
    QCOMPARE(session->friendInfo(QStringLiteral("wxid_henry"))->Alias, QStringLiteral("henry_h"));
    QCOMPARE(folderSnapshot(current.fx->backupPath), before);
}

void TestWechatCurrent::conversationMergedOverDatabases()
{
    const CurrentFixture current;
    const auto session = current.open();
    const auto grace = session->openConversation(*session->friendInfo(QStringLiteral("wxid_grace")));
    // MM.sqlite's two rows, then message_1's; the row standing in both once; the two rows of
    // the same second by MesLocalID.
    QCOMPARE(texts(*grace), (QStringList{"1:1", "2:1", "3:3", "4:3", "5:1", "6:1"}));
    QCOMPARE(grace->row(1).message, QStringLiteral("Hello! Moving to the new phone today."));
    QVERIFY(session->buildPage(*session->friendInfo(QStringLiteral("wxid_grace")), {}));
    const QString page = readText(session->tempFile());
    QCOMPARE(page.count(QStringLiteral("<IMG ")), 2);
    QCOMPARE(page.count(QStringLiteral("Gracie(Grace)  ")), 3);
    QVERIFY(QFileInfo(session->tempFolder("Image") + QStringLiteral("3.jpg")).size() > 1000);

    // A group in a shard: members named from the contacts, an unknown id kept.
    const auto club =
        session->openConversation(*session->friendInfo(QStringLiteral("7770001@chatroom")));
    QCOMPARE(club->count(), 3);
    QCOMPARE(club->senderName(0), QStringLiteral("Henry"));
    QCOMPARE(club->senderName(1), QStringLiteral("我"));
    QCOMPARE(club->senderName(2), QStringLiteral("ivy_88"));
}

void TestWechatCurrent::conversationOnlyInThirdShard()
{
    const CurrentFixture current;
    const auto session = current.open();
    const TFriendInfo* ivy = session->friendInfo(QStringLiteral("wxid_ivy"));
    QVERIFY(ivy);
    QVERIFY(session->listed(TFriendClass::fcFriends).end() !=
            std::find(session->listed(TFriendClass::fcFriends).begin(),
                      session->listed(TFriendClass::fcFriends).end(), ivy));
    const auto conversation = session->openConversation(*ivy);
    QCOMPARE(texts(*conversation), (QStringList{"1:1", "2:3", "3:3", "4:1"}));

    // Picture 2 lies in the app-group container; picture 3 is wxgf: a notice with a save link.
    const QString picture = conversation->entry(1);
    QVERIFY(picture.contains(QStringLiteral("image://2.jpg")));
    QCOMPARE(QFile(session->tempFolder("Image") + QStringLiteral("2.jpg")).size(),
             qint64(wechat::jpegImage(640, 480, 0xc0392b, QStringLiteral("Ivy's cat")).size()));
    const QString wxgf = conversation->entry(2);
    QVERIFY(!wxgf.contains(QStringLiteral("<IMG")));
    QVERIFY(wxgf.contains(QStringLiteral("Unsupported picture")));
    QVERIFY(wxgf.contains(QStringLiteral("save://3.wxgf")));
    QCOMPARE(QFile(session->tempFolder("Image") + QStringLiteral("3.wxgf")).size(),
             qint64(wechat::wxgfImage().size()));
    // Only the readable picture is a file the view may load.
    QCOMPARE(conversation->files(),
             QSet<QString>{QDir::cleanPath(session->tempFolder("Image") + "2.pic_thum")});
}

void TestWechatCurrent::entriesOfAnyRangeAreThePage()
{
    // The old layout: the page file is all entries, in order, whichever way they are asked for.
    SampleBackup backup;
    wechat::addWechatData(backup);
    ChatFixture fx(backup);
    const QString root = kRoot.arg(wechat::accountFolder(1));
    TChatSession session(
        GetRealFileName(fx.backupPath, fx.recordDict.value(root + QStringLiteral("DB/MM.sqlite"))),
        fx.recordDict, fx.backupPath, root, fx.tempPath);
    session.InitFriends();
    const TFriendInfo* alice = session.friendInfo(QStringLiteral("wxid_alice"));
    QVERIFY(session.buildPage(*alice, {}));
    const QString page = readText(session.tempFile());

    const auto conversation = session.openConversation(*alice);
    QCOMPARE(conversation->count(), 12); // the sticker (47) has no entry
    QString entries;
    for (int i = conversation->count() - 1; i >= 0; --i) {
        QByteArray bytes;
        appendFileLines(bytes, conversation->entry(i) + QStringLiteral("\r\n"));
        entries.prepend(QString::fromUtf8(bytes));
    }
    QVERIFY(page.contains(QStringLiteral("<body oncontextmenu=\"return false;\">\r\n") + entries +
                          QStringLiteral("</body>\r\n")));
    // Two ranges make the same text.
    QByteArray ranges;
    appendFileLines(ranges, conversation->range(0, 5) + conversation->range(5, 99));
    QCOMPARE(QString::fromUtf8(ranges), entries);
}

void TestWechatCurrent::unreadableShardIsLeftOut()
{
    CurrentFixture current;
    for (SampleBackup::Entry& e : current.backup.entries())
        if (e.path.endsWith(QLatin1String("message_2.sqlite")))
            e.content = QByteArray(4096, 'x');
    current.fx = std::make_unique<ChatFixture>(current.backup);
    const auto session = current.open();
    QCOMPARE(session->warnings().size(), 1);
    QCOMPARE(session->warnings().first().first, QStringLiteral("message_2.sqlite"));
    // Henry's and the club's conversations were there; the others stay.
    QCOMPARE(names(*session, TFriendClass::fcFriends), (QStringList{"Gracie(Grace)", "ivy_88"}));
    QVERIFY(names(*session, TFriendClass::fcGroups).isEmpty());
}

void TestWechatCurrent::contactsWhenOneListIsMissing_data()
{
    QTest::addColumn<bool>("mmFriends");
    QTest::addColumn<bool>("wcdbFriend");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("warning");
    QTest::newRow("both") << true << true << QStringList{"Newer(Hal)", "Old Pat"} << "";
    QTest::newRow("MM.sqlite holds messages only")
        << false << true << QStringList{"Newer(Hal)"} << "";
    QTest::newRow("WCDB_Contact.sqlite without Friend")
        << true << false << QStringList{"Hal (old)", "Old Pat"} << "WCDB_Contact.sqlite";
}

void TestWechatCurrent::contactsWhenOneListIsMissing()
{
    QFETCH(bool, mmFriends);
    QFETCH(bool, wcdbFriend);
    QFETCH(QStringList, listed);
    QFETCH(QString, warning);
    wechat::Database mm;
    mm.friendTable = mmFriends;
    mm.friends = {{QStringLiteral("wxid_hal"), QStringLiteral("Hal (old)"), {}, 3},
                  {QStringLiteral("wxid_pat"), QStringLiteral("Old Pat"), {}, 3}};
    mm.chats[QStringLiteral("wxid_hal")] = {{1, QStringLiteral("a"), 1, 1, 1}};
    mm.chats[QStringLiteral("wxid_pat")] = {{2, QStringLiteral("b"), 1, 1, 2}};
    wechat::ContactDatabase contacts;
    contacts.contacts = {{QStringLiteral("wxid_hal"),
                          wechat::contactRemark(QStringLiteral("Hal"), {}, QStringLiteral("Newer")),
                          3}};
    wechat::Database noFriend;
    noFriend.friendTable = false;
    noFriend.chats[QStringLiteral("wxid_other")] = {};
    SampleBackup backup;
    const QString domain = QLatin1String(wechat::kDomain);
    const QString db = QStringLiteral("Documents/%1/DB/").arg(kAccountHex);
    backup.addFile(domain, db + QStringLiteral("MM.sqlite"), mm.bytes());
    backup.addFile(domain, db + QStringLiteral("WCDB_Contact.sqlite"),
                   wcdbFriend ? contacts.bytes() : noFriend.bytes());
    ChatFixture fx(backup);
    TChatSession session(fx.dbPath, fx.recordDict, fx.backupPath, kRoot.arg(kAccountHex),
                         fx.tempPath);
    session.InitFriends();
    QCOMPARE(names(session, TFriendClass::fcFriends), listed);
    QCOMPARE(session.warnings().isEmpty() ? QString() : session.warnings().first().first,
             warning);
}

void TestWechatCurrent::exportFolderIsSelfContained()
{
    const CurrentFixture current;
    const auto session = current.open();
    QTemporaryDir out;
    const auto conversation =
        session->openConversation(*session->friendInfo(QStringLiteral("wxid_ivy")));
    const QString folder = exportConversationFolder(*session, *conversation, out.path(), {});
    QCOMPARE(QFileInfo(folder).fileName(), QStringLiteral("ivy_88"));
    const QString page = readText(folder + QStringLiteral("/wechathistory.html"));
    QVERIFY(page.contains(QStringLiteral("Only in the third shard")));
    // Nothing of the body points at the private working folder or the view's schemes.
    const QString body = page.mid(page.indexOf(QLatin1String("</style>")));
    QVERIFY(!body.contains(session->tempPath()));
    for (const char* scheme : {"image://", "save://", "file:"})
        QVERIFY2(!body.contains(QLatin1String(scheme)), scheme);
    QVERIFY(page.contains(QStringLiteral("src=\"media/2.thumb.jpg\"")));
    QVERIFY(page.contains(QStringLiteral("location.href='media/2.jpg'")));
    QVERIFY(page.contains(QStringLiteral("href=\"media/3.wxgf\"")));
    for (const char* name : {"2.thumb.jpg", "2.jpg", "3.wxgf"})
        QVERIFY2(QFileInfo(folder + QStringLiteral("/media/") + QLatin1String(name)).size() > 0,
                 name);

    // A second export beside it does not replace the first.
    const QString again = exportConversationFolder(*session, *conversation, out.path(), {});
    QCOMPARE(QFileInfo(again).fileName(), QStringLiteral("ivy_88 (2)"));
}

void TestWechatCurrent::exportCsv()
{
    const CurrentFixture current;
    const auto session = current.open();
    QTemporaryDir out;
    const auto club =
        session->openConversation(*session->friendInfo(QStringLiteral("7770001@chatroom")));
    const QString path = out.filePath(QStringLiteral("club.csv"));
    exportConversationCsv(*club, path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    const auto date = [&](int i) { return club->row(i).date; };
    QCOMPARE(QString::fromUtf8(bytes.mid(3)),
             QStringLiteral("time,sender,type,text\r\n") + date(0) +
                 QStringLiteral(",Henry,text,Trail at 8?\r\n") + date(1) +
                 QStringLiteral(",我,text,I'm in\r\n") + date(2) +
                 QStringLiteral(",ivy_88,text,Me too\r\n"));

    // Links and calls in words; a text with a comma or line break quoted.
    SampleBackup backup;
    wechat::addWechatData(backup);
    ChatFixture fx(backup);
    const QString root = kRoot.arg(wechat::accountFolder(1));
    TChatSession old(
        GetRealFileName(fx.backupPath, fx.recordDict.value(root + QStringLiteral("DB/MM.sqlite"))),
        fx.recordDict, fx.backupPath, root, fx.tempPath);
    old.InitFriends();
    const auto alice = old.openConversation(*old.friendInfo(QStringLiteral("wxid_alice")));
    exportConversationCsv(*alice, path);
    QVERIFY(file.seek(0));
    file.close();
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString csv = QString::fromUtf8(file.readAll());
    QVERIFY(csv.contains(QStringLiteral(",Alice(Ally),link,\"Trip report\nTen days in the "
                                        "mountains\nhttps://example.com/trip\"\r\n")));
    QVERIFY(csv.contains(QStringLiteral(",我,call,1:2:5\r\n")));
    QVERIFY(csv.contains(QStringLiteral(",Alice(Ally),image,\r\n")));
    QVERIFY(csv.contains(QStringLiteral(",Alice(Ally),voice,\r\n")));
    QVERIFY(!csv.contains(QStringLiteral("sticker")));
}

QTEST_GUILESS_MAIN(TestWechatCurrent)
#include "tst_wechatcurrent.moc"
