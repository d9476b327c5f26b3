#include "chat/MessagesExport.h"
#include "chat/MessagesPage.h"
#include "util/Error.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QtTest>

namespace {

TMessage text(qint64 row, bool fromMe, const QString& sender, const QString& body)
{
    TMessage m;
    m.rowId = row;
    m.guid = QStringLiteral("G%1").arg(row);
    m.dateMs = 1700000000000 + row * 60000;
    m.fromMe = fromMe;
    m.sender = sender;
    m.service = QStringLiteral("iMessage");
    m.text = body;
    return m;
}

TMessageAttachment attachment(const QString& name, const QString& mime)
{
    TMessageAttachment a;
    a.name = name;
    a.mimeType = mime;
    a.domain = QStringLiteral("MediaDomain");
    a.path = QStringLiteral("Library/SMS/Attachments/00/00/X/") + name;
    a.totalBytes = 2048;
    return a;
}

// The markup a renderer made, with the text of every element and attribute values as a user
// sees them: what matters is that no element came from the database.
QStringList tagsOf(const QString& html)
{
    static const QRegularExpression tag(QStringLiteral(R"(<([A-Za-z][A-Za-z0-9]*))"));
    QStringList out;
    for (auto it = tag.globalMatch(html); it.hasNext();)
        out << it.next().captured(1).toLower();
    out.removeDuplicates();
    out.sort();
    return out;
}

} // namespace

class TestMessagesPage final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void hostileTextStaysText_data();
    void hostileTextStaysText();
    void onlyWebAddressesBecomeLinks_data();
    void onlyWebAddressesBecomeLinks();
    void attachmentsStandWhereTheTextMarksThem();
    void reactionsEditsAndUnsent();
    void groupEvents_data();
    void groupEvents();
    void rangesCoverEveryEntryOnce();
    void pageShellCarriesItsScriptOnly();
    void exportWritesFolderHtmlCsvAndFiles();

private:
    TContactNames m_names;
};

void TestMessagesPage::initTestCase()
{
    qputenv("TZ", "UTC");
}

void TestMessagesPage::hostileTextStaysText_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("groupName");
    QTest::addColumn<QString>("sender");
    QTest::newRow("script") << QStringLiteral("<script>alert(1)</script>")
                            << QStringLiteral("<script>x()</script>") << QStringLiteral("+1555");
    QTest::newRow("attribute break") << QStringLiteral("\"><img src=x onerror=alert(1)>")
                                     << QStringLiteral("' onmouseover='x") << QStringLiteral("<b>x");
    QTest::newRow("entities") << QStringLiteral("&lt;script&gt; &amp;") << QStringLiteral("&amp;")
                              << QStringLiteral("a&b@example.com");
}

void TestMessagesPage::hostileTextStaysText()
{
    QFETCH(QString, body);
    QFETCH(QString, groupName);
    QFETCH(QString, sender);
    TConversation c;
    c.isGroup = true;
    c.displayName = groupName;
    std::vector<TMessage> messages{text(1, false, sender, body)};
    messages[0].attachments.push_back(attachment(body + QStringLiteral(".txt"), QString()));
    const TMessagesRenderer r(c, messages, m_names, {});
    const QString html = r.entry(0);
    // Only the renderer's own elements; the texts show as typed.
    QCOMPARE(tagsOf(html), QStringList({QStringLiteral("div"), QStringLiteral("span")}));
    QTextDocument doc;
    doc.setHtml(html);
    QVERIFY2(doc.toPlainText().contains(body), qPrintable(doc.toPlainText()));
    QVERIFY(doc.toPlainText().contains(sender));

    const QString page = messagesPageShell(conversationTitle(c, m_names), html, 0,
                                           QStringLiteral("ferrowick-messages://c/1/range"),
                                           QStringLiteral("n0nce"));
    QCOMPARE(page.count(QStringLiteral("<script")), 1);
    QVERIFY(page.contains(QStringLiteral("<script nonce=\"n0nce\">")));
    QVERIFY(!page.contains(groupName) || groupName == QStringLiteral("&amp;"));
}

void TestMessagesPage::onlyWebAddressesBecomeLinks_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QStringList>("links"); // the href of each link, in order
    QTest::newRow("https with query and trailing dot")
        << QStringLiteral("see https://example.com/a?b=1&c=2.")
        << QStringList{QStringLiteral("https://example.com/a?b=1&c=2")};
    QTest::newRow("two, in brackets")
        << QStringLiteral("(http://a.example) and HTTPS://B.example/x")
        << QStringList{QStringLiteral("http://a.example"), QStringLiteral("https://b.example/x")};
    QTest::newRow("not web") << QStringLiteral("javascript:alert(1) ftp://x.example file:///etc/passwd mailto:a@b")
                             << QStringList{};
    QTest::newRow("no host") << QStringLiteral("http:// and https:///x") << QStringList{};
    QTest::newRow("quote ends it") << QStringLiteral("https://e.example/\"onclick=x")
                                   << QStringList{QStringLiteral("https://e.example/")};
}

void TestMessagesPage::onlyWebAddressesBecomeLinks()
{
    QFETCH(QString, body);
    QFETCH(QStringList, links);
    TConversation c;
    std::vector<TMessage> messages{text(1, true, QString(), body)};
    const TMessagesRenderer r(c, messages, m_names, {});
    const QString html = r.entry(0);
    static const QRegularExpression href(QStringLiteral("<a class=\"web\" href=\"([^\"]*)\""));
    QStringList found;
    for (auto it = href.globalMatch(html); it.hasNext();)
        found << it.next().captured(1).replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    QStringList expected;
    for (const QString& l : links)
        expected << QUrl(l).toString(QUrl::FullyEncoded);
    QCOMPARE(found, expected);
    for (const QString& l : links)
        QVERIFY(r.showsLink(QUrl(l)));
    QVERIFY(!r.showsLink(QUrl(QStringLiteral("https://elsewhere.example/"))));
    QVERIFY(!r.showsLink(QUrl(QStringLiteral("javascript:alert(1)"))));
}

void TestMessagesPage::attachmentsStandWhereTheTextMarksThem()
{
    TConversation c;
    std::vector<TMessage> messages{text(1, false, QStringLiteral("+1"),
                                        QStringLiteral("\uFFFCfirst\uFFFCsecond"))};
    auto& atts = messages[0].attachments;
    atts.push_back(attachment(QStringLiteral("IMG_0001.HEIC"), QStringLiteral("image/heic")));
    atts.push_back(attachment(QStringLiteral("clip.mov"), QStringLiteral("video/quicktime")));
    atts.push_back(attachment(QStringLiteral("notes.pdf"), QStringLiteral("application/pdf")));
    atts.push_back(attachment(QStringLiteral("gone.jpg"), QStringLiteral("image/jpeg")));
    TMessagesRenderer::Links links;
    links.available = [](int, int a) { return a != 3; };
    links.picture = [](int m, int a) { return QStringLiteral("pic:%1/%2").arg(m).arg(a); };
    links.open = [](int m, int a) { return QStringLiteral("open:%1/%2").arg(m).arg(a); };
    const TMessagesRenderer r(c, messages, m_names, links);
    const QString html = r.entry(0);
    const qsizetype picture = html.indexOf(QStringLiteral("<img class=\"pic\" src=\"pic:0/0\""));
    const qsizetype first = html.indexOf(QStringLiteral("first"));
    const qsizetype video = html.indexOf(QStringLiteral("href=\"open:0/1\""));
    const qsizetype second = html.indexOf(QStringLiteral("second"));
    const qsizetype file = html.indexOf(QStringLiteral("href=\"open:0/2\">notes.pdf (2"));
    const qsizetype missing = html.indexOf(QStringLiteral("gone.jpg \u2014 not in this backup"));
    QVERIFY2(picture >= 0 && first > picture && video > first && second > video &&
                 file > second && missing > file,
             qPrintable(html));
    QVERIFY(!html.contains(QStringLiteral("open:0/3")));
    QVERIFY(!html.contains(QChar(0xFFFC)));
    QCOMPARE(attachmentKind(atts[1]), TAttachmentKind::akVideo);
    QVERIFY(isHeifAttachment(atts[0]));
    TMessageAttachment caf;
    caf.name = QStringLiteral("Audio Message.caf");
    QCOMPARE(attachmentKind(caf), TAttachmentKind::akAudio);
}

void TestMessagesPage::reactionsEditsAndUnsent()
{
    TConversation c;
    std::vector<TMessage> messages{text(1, false, QStringLiteral("+1"), QStringLiteral("hello")),
                                   text(2, true, QString(), QStringLiteral("fixed")),
                                   text(3, true, QString(), QString())};
    messages[0].reactions.push_back({2000, true, QString(), QString()});
    messages[0].reactions.push_back({2003, false, QStringLiteral("+1"), QString()});
    messages[0].reactions.push_back({2006, false, QStringLiteral("+1"), QStringLiteral("\U0001F389")});
    messages[1].edited = true;
    messages[2].unsent = true;
    const TMessagesRenderer r(c, messages, m_names, {});
    const QString loved = r.entry(0);
    QVERIFY(loved.contains(QStringLiteral("<div class=\"rx\"><span title=\"Me\">\u2764\uFE0F</span>"
                                          "<span title=\"+1\">\U0001F602</span>"
                                          "<span title=\"+1\">\U0001F389</span></div>")));
    QVERIFY(r.entry(1).contains(QStringLiteral(" \u00B7 Edited</div>")));
    QVERIFY(r.entry(2).contains(QStringLiteral("This message was unsent")));
    QVERIFY(!r.entry(2).contains(QStringLiteral("Edited")));
    QVERIFY(r.entry(1).contains(QStringLiteral("class=\"m out\"")));
    QVERIFY(r.entry(0).contains(QStringLiteral("class=\"m in\"")));
    // A one-to-one conversation names nobody above the bubbles.
    QVERIFY(!r.entry(0).contains(QStringLiteral("class=\"who\"")));
}

void TestMessagesPage::groupEvents_data()
{
    QTest::addColumn<int>("itemType");
    QTest::addColumn<int>("action");
    QTest::addColumn<bool>("fromMe");
    QTest::addColumn<QString>("expected");
    QTest::newRow("added") << 1 << 0 << false << QStringLiteral("+4930 added +8613");
    QTest::newRow("removed") << 1 << 1 << true << QStringLiteral("You removed +8613");
    QTest::newRow("named") << 2 << 0 << false << QStringLiteral("+4930 named the conversation \"<b>Team</b>\"");
    QTest::newRow("left") << 3 << 0 << false << QStringLiteral("+4930 left the conversation");
    QTest::newRow("other") << 6 << 0 << true << QStringLiteral("You changed the conversation");
}

void TestMessagesPage::groupEvents()
{
    QFETCH(int, itemType);
    QFETCH(int, action);
    QFETCH(bool, fromMe);
    QFETCH(QString, expected);
    TConversation c;
    c.isGroup = true;
    TMessage m = text(1, fromMe, fromMe ? QString() : QStringLiteral("+4930"), QString());
    m.itemType = itemType;
    m.groupActionType = action;
    m.otherHandle = QStringLiteral("+8613");
    m.groupTitle = QStringLiteral("<b>Team</b>");
    std::vector<TMessage> messages{m};
    const TMessagesRenderer r(c, messages, m_names, {});
    QCOMPARE(r.eventText(messages[0]), expected);
    const QString html = r.entry(0);
    QVERIFY(html.startsWith(QStringLiteral("<div class=\"ev\" id=\"m0\">")));
    QCOMPARE(tagsOf(html), QStringList{QStringLiteral("div")});
}

void TestMessagesPage::rangesCoverEveryEntryOnce()
{
    TConversation c;
    std::vector<TMessage> messages;
    for (int i = 0; i < 1234; ++i)
        messages.push_back(text(i + 1, i % 2, QStringLiteral("+1"), QStringLiteral("n%1;").arg(i)));
    const TMessagesRenderer r(c, messages, m_names, {});
    // As the page asks: the newest 500, then 500 before each first index, clipped at 0.
    QString all;
    for (int end = r.count(); end > 0; end -= 500)
        all.prepend(r.range(end - 500, end));
    static const QRegularExpression id(QStringLiteral(R"re(id="m(\d+)")re"));
    int expected = 0;
    for (auto it = id.globalMatch(all); it.hasNext(); ++expected)
        QCOMPARE(it.next().captured(1).toInt(), expected);
    QCOMPARE(expected, 1234);
    QVERIFY(r.range(1234, 2000).isEmpty());
    QVERIFY(r.entry(-1).isEmpty());
}

void TestMessagesPage::pageShellCarriesItsScriptOnly()
{
    const QString page = messagesPageShell(QStringLiteral("T"), QStringLiteral("<div>x</div>"), 734,
                                           QStringLiteral("ferrowick-messages://conversation/3/range"),
                                           QStringLiteral("abc"));
    QVERIFY(page.contains(QStringLiteral("script-src 'nonce-abc'")));
    QVERIFY(page.contains(QStringLiteral("var first=734,")));
    QVERIFY(page.contains(QStringLiteral("url='ferrowick-messages://conversation/3/range'")));
    const QString exported = messagesExportPage(QStringLiteral("T"), QStringLiteral("<div>x</div>"));
    QVERIFY(!exported.contains(QStringLiteral("<script")));
}

void TestMessagesPage::exportWritesFolderHtmlCsvAndFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    TConversation c;
    c.displayName = QStringLiteral("Trip / 2026");
    std::vector<TMessage> messages{text(1, false, QStringLiteral("+1"), QStringLiteral("pic, \"quoted\"\nline")),
                                   text(2, true, QString(), QStringLiteral("bye"))};
    messages[0].attachments.push_back(attachment(QStringLiteral("IMG_1.JPG"), QStringLiteral("image/jpeg")));
    messages[0].attachments.push_back(attachment(QStringLiteral("../../escape.txt"), QString()));
    messages[1].attachments.push_back(attachment(QStringLiteral("lost.mov"), QStringLiteral("video/quicktime")));
    TAttachmentSource source;
    source.keyOf = [](const TMessageAttachment& a) { return a.name == QLatin1String("lost.mov") ? QString() : a.name; };
    source.available = [](const QString&) { return true; };
    source.writeContent = [](const QString& key, QIODevice& out) { out.write(("content of " + key).toUtf8()); };

    const TConversationExport first = exportConversation(dir.path(), c.displayName, c, messages, m_names, source);
    QCOMPARE(first.folder, dir.filePath(QStringLiteral("Trip _ 2026")));
    QCOMPARE(first.written, 2);
    QCOMPARE(first.missing, 1);
    const QDir out(first.folder);
    QCOMPARE(out.entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
             QStringList({QStringLiteral("attachments"), QStringLiteral("messages.csv"),
                          QStringLiteral("messages.html")}));
    QFile picture(out.filePath(QStringLiteral("attachments/1-1 IMG_1.JPG")));
    QVERIFY(picture.open(QIODevice::ReadOnly));
    QCOMPARE(picture.readAll(), QByteArray("content of IMG_1.JPG"));
    // A name with slashes stays inside the folder.
    QVERIFY(QFile::exists(out.filePath(QStringLiteral("attachments/1-2 _.._escape.txt"))));

    QFile html(out.filePath(QStringLiteral("messages.html")));
    QVERIFY(html.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(html.readAll());
    QVERIFY(page.contains(QStringLiteral("<img class=\"pic\" src=\"attachments/1-1%20IMG_1.JPG\"")));
    QVERIFY(page.contains(QStringLiteral("lost.mov \u2014 not in this backup")));

    QFile csv(out.filePath(QStringLiteral("messages.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QCOMPARE(csv.readAll(),
             QByteArray("\xEF\xBB\xBF"
                        "Date,From,Text,Attachments,Service\r\n"
                        "2023-11-14 22:14:20,+1,\"pic, \"\"quoted\"\"\nline\",IMG_1.JPG; ../../escape.txt,iMessage\r\n"
                        "2023-11-14 22:15:20,Me,bye,lost.mov,iMessage\r\n"));

    // A second export takes a new folder; nothing of the first is touched.
    const TConversationExport second = exportConversation(dir.path(), c.displayName, c, messages, m_names, source);
    QCOMPARE(second.folder, dir.filePath(QStringLiteral("Trip _ 2026 (2)")));
    QVERIFY(picture.exists());

    // A failing copy is reported, not a finished export.
    source.writeContent = [](const QString&, QIODevice&) { throw Error(QStringLiteral("disk full")); };
    QVERIFY_THROWS_EXCEPTION(Error, exportConversation(dir.path(), c.displayName, c, messages, m_names, source));
}

QTEST_MAIN(TestMessagesPage)
#include "tst_messagespage.moc"
