#include "ChatFixture.h"
#include "chat/ChatPage.h"
#include "chat/ChatSession.h"
#include "chat/ChatStyle.h"
#include "util/Error.h"

#include <QtTest>

namespace {

const QString kFriend = QStringLiteral("wxid_friend");
const QString kGroup = QStringLiteral("777@chatroom");

qint64 localTime(int y, int mo, int d, int h, int mi, int s)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::LocalTime).toSecsSinceEpoch();
}

QString sentColumn(const QString& inner)
{
    return QStringLiteral("\t<div class=\"rightd\">\r\n\t\t") + inner +
           QStringLiteral("\r\n\t</div>\r\n");
}
QString receivedColumn(const QString& inner)
{
    return QStringLiteral("\t<div class=\"leftd\">\r\n\t\t") + inner +
           QStringLiteral("\r\n\t</div>\r\n");
}

// Builds the conversation of usrName (one message list) and returns the written page, or a
// null string when nothing was written; messages collects the payload failures shown.
struct Built
{
    bool written = false;
    QString page;
    QStringList messages;
    QString error; // the failure that ended the build
};

Built build(const std::vector<wechat::Message>& messages, const QString& usrName = kFriend,
            std::vector<wechat::Friend> extraFriends = {},
            const QList<QPair<QString, QByteArray>>& media = {})
{
    wechat::Database db;
    db.friends = {{usrName, QStringLiteral("Fred"), wechat::remarkRecord(QStringLiteral("Freddy")),
                   usrName.contains(QLatin1String("@chatroom")) ? 2 : 3}};
    db.friends.insert(db.friends.end(), extraFriends.begin(), extraFriends.end());
    db.chats[usrName] = messages;
    ChatFixture fx(accountBackup(db, media));
    TChatSession session(fx.dbPath, fx.recordDict, fx.backupPath, fx.root, fx.tempPath);
    session.InitFriends();
    Built out;
    TChatSession::BuildHooks hooks;
    hooks.showMessage = [&out](const QString& text) { out.messages << text; };
    try {
        out.written = session.buildPage(*session.friendInfo(usrName), hooks);
    } catch (const Error& e) {
        out.error = e.message();
    }
    QFile file(session.tempFile());
    if (out.written && file.open(QIODevice::ReadOnly))
        out.page = QString::fromUtf8(file.readAll().mid(3));
    return out;
}

QString body(const Built& b)
{
    const qsizetype at = b.page.indexOf(QLatin1String("</style>"));
    return at < 0 ? QString() : b.page.mid(at + 8);
}

// An entry as the page file holds it: CR LF line ends, one CR LF after it.
QString fileEntry(const QString& entry)
{
    QByteArray out;
    appendFileLines(out, entry + QStringLiteral("\r\n"));
    return QString::fromUtf8(out);
}

QString localDate(qint64 t)
{
    return QDateTime::fromSecsSinceEpoch(t).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// A stored AMR voice: any bytes without the SILK mark are copied, not decoded.
const QByteArray kAmrBytes = QByteArray(64, '\x3c');

} // namespace

class TestChatPage final : public QObject
{
    Q_OBJECT

private slots:
    void oneSentText();
    void groupSender_data();
    void groupSender();
    void groupSenderNeverRewritesMarkup_data();
    void groupSenderNeverRewritesMarkup();
    void typesBeyond32BitsAndBadLengths_data();
    void typesBeyond32BitsAndBadLengths();
    void videoBubble();
    void skippedTypesWriteNothing();
    void voiceLength_data();
    void voiceLength();
    void sharedLinkAndLocation_data();
    void sharedLinkAndLocation();
    void call_data();
    void call();
    void untrustedTextIsEscaped();
    void fileFormat();
    void styleBlock();
};

void TestChatPage::oneSentText()
{
    const Built b = build({{localTime(2016, 5, 1, 12, 0, 0), QStringLiteral("hi"), 1, 0, 1}});
    QVERIFY(b.written);
    const QString entry =
        sentColumn(QStringLiteral(
            "<div class=\"rightimg\">\r\n\t\t\t2016-05-01 12:00:00\r\n\t\t</div>\r\n")) +
        sentColumn(QStringLiteral("<div class=\"speech right\">\r\n\t\t\thi\r\n\t\t</div>"));
    QCOMPARE(body(b), QStringLiteral("<body oncontextmenu=\"return false;\">\r\n") + entry +
                          QStringLiteral("\r\n</body>\r\n"));
}

void TestChatPage::groupSender_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("des");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("bubble");
    QTest::newRow("known id, remark") << "wxid_abc:\nhello" << 1 << "Alice  "
                                      << "Alice:\r\nhello";
    QTest::newRow("known id, no remark") << "wxid_nick:\nyo" << 1 << "Nicky  "
                                         << "Nicky:\r\nyo";
    QTest::newRow("unknown id") << "wxid_zzz:\nhello" << 1 << "wxid_zzz  "
                                << "wxid_zzz:\r\nhello";
    QTest::newRow("no colon") << "joined" << 1 << QStringLiteral("系统提示  ") << "joined";
    QTest::newRow("sent") << "hi all" << 0 << QStringLiteral("我  ") << "hi all";
}

void TestChatPage::groupSender()
{
    QFETCH(QString, message);
    QFETCH(int, des);
    QFETCH(QString, header);
    QFETCH(QString, bubble);
    const qint64 t = localTime(2017, 1, 2, 3, 4, 5);
    const Built b = build({{t, message, 1, des, 1}}, kGroup,
                          {{QStringLiteral("wxid_abc"), QStringLiteral("Abby"),
                            wechat::remarkRecord(QStringLiteral("Alice")), 3},
                           {QStringLiteral("wxid_nick"), QStringLiteral("Nicky"), {}, 3}});
    QVERIFY(b.written);
    const QString side = des ? QStringLiteral("left") : QStringLiteral("right");
    QVERIFY2(b.page.contains(QStringLiteral("img\">\r\n\t\t\t") + header +
                             QStringLiteral("2017-01-02 03:04:05\r\n")),
             qPrintable(body(b)));
    QVERIFY2(b.page.contains(QStringLiteral("<div class=\"speech %1\">\r\n\t\t\t%2\r\n\t\t</div>")
                                 .arg(side, bubble)),
             qPrintable(body(b)));
}

void TestChatPage::groupSenderNeverRewritesMarkup_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("name");
    const QString tag = QStringLiteral("img src=x onerror=alert(1)");
    const QString quoted = QStringLiteral("\"><img src=x onerror=alert('x')>");
    // Ids that are words, attribute names, entity names or digits of the page's own markup.
    for (const char* id :
         {"a",      "src",    "onclick", "div",      "class", "IMG",   "style",    "speech",
          "left",   "cursor", "pointer", "location", "href",  "video", "image",    "audio",
          "sound1", "width",  "amp",     "lt",       "px",    "1",     "pic_thum", "block"})
        QTest::newRow(id) << QString::fromLatin1(id) << tag;
    QTest::newRow("quote and tag, id a") << "a" << quoted;
    QTest::newRow("quote and tag, id span") << "span" << quoted;
}

// A member's id and display name are other people's text: the page's markup stays exactly the
// templates' whatever they are, and the name appears once, escaped, where the id stood.
void TestChatPage::groupSenderNeverRewritesMarkup()
{
    QFETCH(QString, id);
    QFETCH(QString, name);
    const qint64 t0 = localTime(2018, 3, 4, 5, 6, 7);
    const QString link = QStringLiteral(
        "<msg><appmsg><title>news</title><des>d</des><url>https://e.com/a</url></appmsg></msg>");
    const std::vector<wechat::Message> messages = {
        {t0, id + QStringLiteral(":\nhello <b>a</b> & src"), 1, 1, 1},
        {t0 + 1, id + QStringLiteral(":\n<msg><img/></msg>"), 3, 1, 2},
        {t0 + 2, id + QStringLiteral(":\n<msg><videomsg/></msg>"), 43, 1, 3},
        {t0 + 3, id + QStringLiteral(":\n<msg><voicemsg voicelength=\"2000\"/></msg>"), 34, 1, 4},
        {t0 + 4, id + QStringLiteral(":\n") + link, 49, 1, 5},
        {t0 + 5, QStringLiteral("a joined"), 10000, 1, 6},
    };
    wechat::Database db;
    db.friends = {{kGroup, QStringLiteral("Team"), {}, 2}, {id, name, {}, 3}};
    db.chats[kGroup] = messages;
    const QString videoThumb = mediaPath("Video", kGroup, 3, ".video_thum");
    ChatFixture fx(accountBackup(db, {{mediaPath("Img", kGroup, 2, ".pic_thum"), "thumb"},
                                      {mediaPath("Video", kGroup, 3, ".mp4"), "mp4"},
                                      {videoThumb, "vthumb"},
                                      {mediaPath("Audio", kGroup, 4, ".aud"), kAmrBytes}}));
    TChatSession session(fx.dbPath, fx.recordDict, fx.backupPath, fx.root, fx.tempPath);
    session.InitFriends();
    QVERIFY(session.buildPage(*session.friendInfo(kGroup), {}));
    QFile file(session.tempFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(file.readAll().mid(3));

    const QString who = htmlEscape(name);
    auto entry = [&](int i, int type, const QString& content, const QString& sender) {
        return fileEntry(
            messageEntry(false, type, sender + QStringLiteral("  ") + localDate(t0 + i), content));
    };
    const QString expected =
        QStringLiteral("<body oncontextmenu=\"return false;\">\r\n") +
        entry(0, 1, who + htmlEscape(QStringLiteral(":\nhello <b>a</b> & src")), who) +
        entry(1, 3,
              imageMessageHtml(session.tempFolder("Image") + QStringLiteral("2.pic_thum"),
                               QStringLiteral("2.jpg")),
              who) +
        entry(2, 43,
              videoMessageHtml(session.tempFolder("Video") + QStringLiteral("3.video_thum"),
                               QStringLiteral("3.mp4")),
              who) +
        entry(3, 34, voiceMessageHtml(false, 2, QStringLiteral("4.amr")), who) +
        entry(4, 49, sharedLinkHtml(link, {}), who) +
        entry(5, 10000, QStringLiteral("a joined"), QStringLiteral("系统提示")) +
        QStringLiteral("</body>\r\n");
    const QString actual = page.mid(page.indexOf(QLatin1String("</style>")) + 8);
    QCOMPARE(actual, expected);
}

void TestChatPage::typesBeyond32BitsAndBadLengths_data()
{
    QTest::addColumn<qint64>("type");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("failures");
    // Empty: the message has no entry. Otherwise a text its entry holds.
    QTest::addColumn<QString>("shown");
    const qint64 k32 = qint64(1) << 32;
    QTest::newRow("2^32 + 1, no text") << k32 + 1 << "text" << 0 << "";
    QTest::newRow("2^32 + 3, no image") << k32 + 3 << "<msg><img/></msg>" << 0 << "";
    QTest::newRow("2^32 + 34, no voice") << k32 + 34 << "voicelength=\"2000\"" << 0 << "";
    QTest::newRow("2^31, unknown") << (qint64(1) << 31) << "text" << 0 << "";
    QTest::newRow("-2^32 + 1, unknown") << -k32 + 1 << "text" << 0 << "";
    QTest::newRow("2^31 - 1, any other type")
        << qint64(INT32_MAX) << "plain" << 0 << "\r\n\t\t\tplain\r\n";
    QTest::newRow("voicelength not a number")
        << qint64(34) << "<msg><voicemsg voicelength=\"12a\"/></msg>" << 1
        << "<div class=\"audio_len left\"></div>";
    QTest::newRow("voicelength missing")
        << qint64(34) << "<msg><voicemsg/></msg>" << 1 << "<div class=\"audio_len left\"></div>";
    QTest::newRow("voicelength beyond int")
        << qint64(34) << "<msg><voicemsg voicelength=\"99999999999\"/></msg>" << 1
        << "style=\"width:60px\" onclick=\"location.href='audio://1.amr';\"";
    QTest::newRow("voicelength fine") << qint64(34) << "<msg><voicemsg voicelength=\"3000\"/></msg>"
                                      << 0 << "<div class=\"audio_len left\">3\"</div>";
    QTest::newRow("call duration not a number")
        << qint64(50) << "<voipmsg><duration>x</duration></voipmsg>" << 1 << "通话时长：0:0:0";
    QTest::newRow("call duration a fraction")
        << qint64(50) << "<voipmsg><duration>1.5</duration></voipmsg>" << 1 << "通话时长：0:0:0";
    QTest::newRow("call duration fine")
        << qint64(50) << "<voipmsg><duration>65</duration></voipmsg>" << 0 << "通话时长：0:1:5";
}

// One odd message never ends the conversation: codes beyond 32 bits are no known type and are
// skipped; an unreadable voice length or call duration is reported and the message still shows.
void TestChatPage::typesBeyond32BitsAndBadLengths()
{
    QFETCH(qint64, type);
    QFETCH(QString, message);
    QFETCH(int, failures);
    QFETCH(QString, shown);
    const Built b = build({{1, message, type, 1, 1}, {2, QStringLiteral("after"), 1, 1, 2}},
                          kFriend, {}, {{mediaPath("Audio", kFriend, 1, ".aud"), kAmrBytes}});
    QVERIFY2(b.written, qPrintable(b.error));
    QCOMPARE(b.messages.size(), failures);
    const QString html = body(b);
    QVERIFY2(html.contains(QLatin1String("\r\n\t\t\tafter\r\n")), qPrintable(html));
    // Two columns an entry.
    QCOMPARE(html.count(QLatin1String("<div class=\"leftd\">")), shown.isEmpty() ? 2 : 4);
    if (!shown.isEmpty())
        QVERIFY2(html.contains(shown), qPrintable(html));
}

void TestChatPage::videoBubble()
{
    QCOMPARE(videoMessageHtml(QStringLiteral("/b/t&1"), QStringLiteral("6.mp4")),
             QStringLiteral("<div class=\"block\" onclick=\"location.href='video://6.mp4';\" "
                            "style=\"cursor: pointer;\"><span class=\"play-button\" "
                            "onclick=\"location.href='video://6.mp4';\" style=\"cursor: "
                            "pointer;\"><span onclick=\"location.href='video://6.mp4';\" "
                            "style=\"cursor: pointer;\"></span></span></div>\r\n"
                            "<IMG style=\"cursor:hand;max-width:150px;max-height:150px\" "
                            "src=\"/b/t&amp;1\" onclick=\"location.href='video://6.mp4';\" "
                            "style=\"cursor: pointer;\">"));
}

void TestChatPage::skippedTypesWriteNothing()
{
    const Built b = build({{1, QStringLiteral("<mmreader><x/></mmreader>"), 1, 1, 1},
                           {2, QStringLiteral("card"), 42, 1, 2},
                           {3, QStringLiteral("sticker"), 47, 1, 3},
                           {4, QStringLiteral("place"), 48, 0, 4}});
    QVERIFY(!b.written);
    const Built empty = build({});
    QVERIFY(!empty.written);
    // Mixed: only the text counts.
    const Built mixed =
        build({{1, QStringLiteral("card"), 42, 1, 1}, {2, QStringLiteral("text"), 1, 1, 2}});
    QVERIFY(mixed.written);
    QCOMPARE(body(mixed).count(QLatin1String("class=\"speech left\"")), 1);
}

void TestChatPage::voiceLength_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<int>("width");
    QTest::newRow("1499 ms") << "<msg><voicemsg voicelength=\"1499\"/></msg>" << 1 << 70;
    QTest::newRow("1500 ms") << "<msg><voicemsg voicelength=\"1500\"/></msg>" << 2 << 80;
    QTest::newRow("20000 ms") << "<msg><voicemsg voicelength=\"20000\"/></msg>" << 20 << 190;
    QTest::newRow("0 ms") << "voicelength=\"0\"" << 0 << 60;
    QTest::newRow("13000 ms") << "voicelength=\"13000\"" << 13 << 190;
}

void TestChatPage::voiceLength()
{
    QFETCH(QString, message);
    QFETCH(int, seconds);
    QFETCH(int, width);
    QCOMPARE(voiceSeconds(message), seconds);
    QCOMPARE(voiceWidth(seconds), width);
    const QString sent = voiceMessageHtml(true, seconds, QStringLiteral("5.amr"));
    QVERIFY(sent.startsWith(
        QStringLiteral("\t\t<div class=\"audio_len right\">%1\"</div>\r\n").arg(seconds)));
    QVERIFY(sent.contains(
        QStringLiteral("style=\"width:%1px\" onclick=\"location.href='audio://5.amr';\"")
            .arg(width)));
    QVERIFY(!sent.contains(QLatin1String("%REPLACE")));
    QVERIFY_THROWS_EXCEPTION(Error, voiceSeconds(QStringLiteral("voicelength=\"12a\"")));
    QVERIFY_THROWS_EXCEPTION(Error, voiceSeconds(QStringLiteral("<msg/>")));
}

void TestChatPage::sharedLinkAndLocation_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("html");
    QTest::addColumn<int>("failures");
    QTest::newRow("link")
        << "wxid_a:\n<?xml version=\"1.0\"?><msg><appmsg><title>T</title><des>D</des><type>5</type>"
           "<url>https://e.com/a?b=1&amp;c=2</url></appmsg></msg>"
        << QStringLiteral("分享链接：<a href=\"https://e.com/a?b=1&amp;c=2\" "
                          "target=\"_blank\">T</br><a style=\"color:#888\">D</a></a>")
        << 0;
    QTest::newRow("location wins")
        << "<msg><appmsg><title>T</title><type>17</type><url>http://x</url></appmsg></msg>"
        << QStringLiteral("<a style=\"color:#888\"> 实时位置信息... </a>") << 0;
    QTest::newRow("empty url")
        << "<msg><appmsg><title>T</title><des>D</des><url> </url></appmsg></msg>"
        << QStringLiteral("分享链接：<a>T</br><a style=\"color:#888\">D</a></a>") << 0;
    QTest::newRow("malformed") << "<msg><appmsg><title>T</title>"
                               << QStringLiteral(
                                      "分享链接：<a></br><a style=\"color:#888\"></a></a>")
                               << 1;
    QTest::newRow("javascript: address")
        << "<msg><appmsg><title>x</title><des>y</des><url>javascript:alert(1)</url></appmsg></msg>"
        << QStringLiteral("分享链接：<a>x</br><a style=\"color:#888\">y</a></a>") << 0;
    QTest::newRow("markup in title")
        << "<msg><appmsg><title>&lt;b&gt;\"hi\"&lt;/b&gt;</title><des></des>"
           "<url>http://e.com/\"onmouseover=\"x</url></appmsg></msg>"
        << QStringLiteral("分享链接：<a href=\"http://e.com/&quot;onmouseover=&quot;x\" "
                          "target=\"_blank\">&lt;b&gt;&quot;hi&quot;&lt;/b&gt;</br><a "
                          "style=\"color:#888\"></a></a>")
        << 0;
}

void TestChatPage::sharedLinkAndLocation()
{
    QFETCH(QString, message);
    QFETCH(QString, html);
    QFETCH(int, failures);
    QStringList shown;
    QCOMPARE(sharedLinkHtml(message, [&shown](const QString& t) { shown << t; }), html);
    QCOMPARE(shown.size(), failures);
}

void TestChatPage::call_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("text");
    QTest::newRow("3725 s") << "<voipmsg><duration>3725</duration></voipmsg>"
                            << "1:2:5";
    QTest::newRow("65 s") << "<voipmsg><duration>65</duration></voipmsg>"
                          << "0:1:5";
    QTest::newRow("no duration") << "<voipmsg><status>missed</status></voipmsg>"
                                 << "0:0:0";
}

void TestChatPage::call()
{
    QFETCH(QString, message);
    QFETCH(QString, text);
    QCOMPARE(callHtml(message, {}),
             QStringLiteral("<a style=\"color:#888\">通话时长：%1</a>").arg(text));
}

void TestChatPage::untrustedTextIsEscaped()
{
    const Built b =
        build({{1, QStringLiteral("<script>alert('x')</script> & more"), 1, 1, 1},
               {2,
                QStringLiteral(
                    "<msg><appmsg><title>t</title><url>javascript:alert(1)</url></appmsg></msg>"),
                49, 1, 2},
               {3, QStringLiteral("<voipmsg><duration>x</duration>"), 50, 0, 3}},
              kFriend);
    // The malformed call payload shows one message; its duration then reads 0 and the build goes
    // on.
    QCOMPARE(b.messages.size(), 1);
    QVERIFY(b.written);
    const QString html = body(b);
    QVERIFY(!html.contains(QLatin1String("<script>")));
    QVERIFY(
        html.contains(QLatin1String("&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp; more")));
    QVERIFY(!html.contains(QLatin1String("href=\"javascript:")));
    QVERIFY(html.contains(QStringLiteral("通话时长：0:0:0")));

    // The contact's own name in a one-to-one header is escaped as well.
    wechat::Database db;
    db.friends = {{kFriend, QStringLiteral("<img src=x onerror=alert(1)>"), {}, 3}};
    db.chats[kFriend] = {{1, QStringLiteral("hello"), 1, 1, 1}};
    ChatFixture fx(accountBackup(db));
    TChatSession session(fx.dbPath, fx.recordDict, fx.backupPath, fx.root, fx.tempPath);
    session.InitFriends();
    QVERIFY(session.buildPage(*session.friendInfo(kFriend), {}));
    QFile file(session.tempFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(file.readAll());
    QVERIFY(!page.contains(QLatin1String("<img src=x")));
    QVERIFY(page.contains(QLatin1String("&lt;img src=x onerror=alert(1)&gt;  ")));
}

void TestChatPage::fileFormat()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.html"));
    SaveTextToFile(QStringLiteral("a\nb\rc\r\nd"), path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("\xEF\xBB\xBF"
                                        "a\r\nb\r\nc\r\nd\r\n"));
    file.close();
    SaveTextToFile(QStringLiteral("x\r\n"), path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("\xEF\xBB\xBF"
                                        "x\r\n"));
    file.close();

    const Built b = build({{1, QStringLiteral("line one\nline two"), 1, 0, 1}});
    QVERIFY(b.page.endsWith(QLatin1String("</body>\r\n")));
    QVERIFY(b.page.contains(QLatin1String("line one\r\nline two")));
    QVERIFY(!b.page.contains(QRegularExpression(QStringLiteral("[^\r]\n|\r[^\n]"))));
    QVERIFY(b.page.startsWith(QLatin1String("<style>")));
    QVERIFY(b.page.contains(QLatin1String("</style><body oncontextmenu=\"return false;\">\r\n")));
}

void TestChatPage::styleBlock()
{
    QCOMPARE(chatStyleRules().size(), size_t(31));
    QCOMPARE(chatStyleRules().front().selector, "div.speech");
    QCOMPARE(chatStyleRules().back().selector, ".sound_block.right");
    const QString& style = chatStyleBlock();
    const QStringList lines = style.split(QStringLiteral("\r\n"));
    QStringList emoji;
    for (const QString& line : lines)
        if (line.startsWith(QLatin1String(".emoji")) && !line.startsWith(QLatin1String(".emoji {")))
            emoji << line;
    QCOMPARE(emoji.size(), 723);
    QCOMPARE(emoji.first(), QStringLiteral(".emoji2600 { background-position: 0px -260px; }"));
    QCOMPARE(emoji.at(1), QStringLiteral(".emoji2601 { background-position: 0px -20px; }"));
    QCOMPARE(emoji.last(), QStringLiteral(".emoji1f450 { background-position: 0px -11500px; }"));
    QCOMPARE(emoji.filter(QStringLiteral("-9200px; } /* placeholder */")).size(), 147);
    QVERIFY(style.contains(QStringLiteral(".emoji3620e3 {")));
    static const QRegularExpression rule(
        QStringLiteral("^\\.emoji[0-9a-f]+ \\{ background-position: 0px -(\\d+)px; \\}"));
    for (const QString& line : emoji) {
        const auto m = rule.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line));
        const int n = m.captured(1).toInt();
        QVERIFY(n % 20 == 0 && n >= 20 && n <= 11500);
    }
    QVERIFY(style.contains(QStringLiteral(".leftd {\r\n\tclear: both;\r\n\tfloat: left;")));
    QVERIFY(style.contains(QStringLiteral("/* IE6-9 */\r\n\twidth: 70px;\r\n\tcursor:hand;\r\n}")));
    QVERIFY(style.startsWith(QLatin1String("<style>")) &&
            style.endsWith(QLatin1String("</style>")));
}

QTEST_GUILESS_MAIN(TestChatPage)
#include "tst_chatpage.moc"
