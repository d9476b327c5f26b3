#include "ChatFixture.h"
#include "WebTestSupport.h"
#include "app/Application.h"
#include "chat/ChatSchemes.h"
#include "chat/ChatSession.h"
#include "chat/FormChat.h"
#include "chat/FormChatList.h"
#include "chat/WechatAction.h"

#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QToolBar>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>

class TestChatWindow final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void clickContactShowsPage();
    void navigationRouting_data();
    void navigationRouting();
    void chooser();

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
    QListWidget* list = form.lstFriends;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(0)).center());
    QTRY_VERIFY_WITH_TIMEOUT(shown.count() >= 1, 30000);
    QCOMPARE(shown.first().first().toBool(), true);
    QCOMPARE(form.webHistory->url(), QUrl::fromLocalFile(form.session().tempFile()));
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
    // Both voice messages were prepared: the AMR copy and the decoded SILK voice.
    QVERIFY(QFileInfo(form.session().tempFolder("Audio") + QStringLiteral("7.amr")).size() > 6);
    QVERIFY(QFileInfo(form.session().tempFolder("Audio") + QStringLiteral("8.pcm")).size() >
            100000);

    const QString shot = QStringLiteral(FERROWICK_BINARY_DIR "/chat-window.png");
    QTest::qWait(500);
    QVERIFY(form.grab().save(shot));

    // A shared link goes to the desktop's opener (here a stand-in xdg-open that finds no
    // program), and the user is told that nothing opened it; the page stays.
    QFile opener(m_tmp.filePath("bin/xdg-open"));
    QVERIFY(QDir().mkpath(m_tmp.filePath("bin")) && opener.open(QIODevice::WriteOnly));
    opener.write("#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"$0.log\"\nexit 4\n");
    opener.close();
    QVERIFY(opener.setPermissions(opener.permissions() | QFile::ExeOwner));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", m_tmp.filePath("bin").toUtf8() + ':' + path);
    QStringList messages;
    setMessageSink([&messages](const QString& text, bool) { messages << text; });
    QVERIFY(
        runJs(page, QStringLiteral("document.querySelector('a[href]').click(); true")).toBool());
    QTRY_COMPARE_WITH_TIMEOUT(
        messages,
        QStringList{QStringLiteral("No program is set up to open https://example.com/trip.")},
        10000);
    setMessageSink({});
    qputenv("PATH", path);
    QFile log(m_tmp.filePath("bin/xdg-open.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll(), QByteArray("https://example.com/trip\n"));
    QCOMPARE(form.webHistory->url(), QUrl::fromLocalFile(form.session().tempFile()));

    // A click on a picture reaches the window's navigation handler as image://.
    QString opened;
    form.openImage = [&opened](const TExportFile& f) { opened = f.srcFile; };
    runJs(page, QStringLiteral("document.images[0].click(); true"));
    QTRY_COMPARE_WITH_TIMEOUT(opened, form.session().tempFolder("Image") + QStringLiteral("3.jpg"),
                              10000);
    QCOMPARE(form.webHistory->url(), QUrl::fromLocalFile(form.session().tempFile()));
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
    actWechatExecute(nullptr, keys, roots, current, currentRoot, m_fx->recordDict,
                     m_fx->backupPath);
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
    actWechatExecute(nullptr, {single}, {singleRoot}, single, singleRoot, m_fx->recordDict,
                     m_fx->backupPath);
    QCOMPARE(opened, QStringLiteral("3 1"));

    // Cancel in the chooser (the closer's) leaves the current account as it was.
    QString dbFile = QStringLiteral("keep"), root = QStringLiteral("keep/");
    actWechatExecute(nullptr, {"a", "b", "c", "d"}, {"ra", "rb", "rc", "rd"}, dbFile, root,
                     m_fx->recordDict, m_fx->backupPath);
    QCOMPARE(opened, QStringLiteral("chooser"));
    QCOMPARE(dbFile, QStringLiteral("keep"));
    QCOMPARE(root, QStringLiteral("keep/"));
}

int main(int argc, char* argv[])
{
    registerChatSchemes();
    QApplication app(argc, argv);
    TestChatWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_chatwindow.moc"
