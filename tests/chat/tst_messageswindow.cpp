// The Messages window in the real program: the main window loads a backup holding a current
// iPhone's sms.db and address book, the Messages button opens the conversation list, and the
// page shows a conversation, its pictures (HEIC too) and opens one in the image window; a long
// conversation loads its older messages as the page is scrolled up.
#include "FolderSnapshot.h"
#include "MessagesDatabases.h"
#include "ModalTestSupport.h"
#include "PhoneDatabases.h"
#include "SampleBackup.h"
#include "WebTestSupport.h"
#include "app/Application.h"
#include "app/DmGlobal.h"
#include "app/FormMain.h"
#include "chat/ChatSchemes.h"
#include "chat/FormMessages.h"
#include "media/FormImage.h"

#include <QComboBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>

namespace {

QTreeWidgetItem* itemTitled(QTreeWidget* list, const QString& title)
{
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->text(0) == title)
            return list->topLevelItem(i);
    return nullptr;
}

void clickItem(QTreeWidget* list, QTreeWidgetItem* item)
{
    list->scrollToItem(item);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
}

// Waits until every picture of the page has finished loading; returns how many show.
int loadedPictures(QWebEnginePage* page, int expected)
{
    int loaded = -1;
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        loaded = runJs(page, QStringLiteral("Array.from(document.images).filter(i => i.complete "
                                            "&& i.naturalWidth > 0).length"))
                     .toInt();
        if (loaded >= expected)
            break;
        QTest::qWait(50);
    }
    return loaded;
}

} // namespace

class TestMessagesWindow final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { m_messages.clear(); }
    void cleanupTestCase();
    void conversationsPicturesAndTheImageWindow();
    void longConversationLoadsAsItScrolls();

private:
    // Writes backup into the user's data folder as the only backup there.
    void writeBackup(const SampleBackup& backup);
    // Loads the one backup in the real main window and runs inside the Messages window.
    void inMessagesWindow(const std::function<void(TFormMessages&)>& walk);

    QTemporaryDir m_dir;
    QString m_backup;
    QStringList m_messages;
};

void TestMessagesWindow::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("XDG_DATA_HOME", m_dir.filePath("data").toUtf8());
    QDir().mkpath(m_dir.filePath("tmp"));
    qputenv("TMPDIR", m_dir.filePath("tmp").toUtf8());
    qputenv("TZ", "UTC");
    setMessageSink([this](const QString& text, bool) { m_messages << text; });
}

void TestMessagesWindow::cleanupTestCase()
{
    setMessageSink({});
}

void TestMessagesWindow::writeBackup(const SampleBackup& backup)
{
    const QString folder = m_dir.filePath("data/Apple Computer/MobileSync/Backup");
    QDir(folder).removeRecursively();
    m_backup = folder + QStringLiteral("/current");
    backup.write(m_backup);
}

void TestMessagesWindow::inMessagesWindow(const std::function<void(TFormMessages&)>& walk)
{
    TdmGlobal dm;
    TFormMain form(dm);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.cbbBackup->count(), 1);
    form.cbbBackup->setCurrentIndex(0);
    QTRY_VERIFY(form.btnNext->isEnabled());
    QTest::mouseClick(form.btnNext, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(form.tbcMain->currentWidget(), form.tabMain, 30000);
    QTRY_VERIFY(form.btnMessages->isEnabled());
    bool walked = false;
    whenShown<TFormMessages>([&](TFormMessages& messages) {
        walked = true;
        walk(messages);
    });
    QTest::mouseClick(form.btnMessages, Qt::LeftButton); // returns when the window closes
    QVERIFY(walked);
}

void TestMessagesWindow::conversationsPicturesAndTheImageWindow()
{
    SampleBackup backup;
    backup.addFile(QStringLiteral("HomeDomain"),
                   QStringLiteral("Library/AddressBook/AddressBook.sqlitedb"),
                   PhoneDatabases::addressBook());
    MessagesDatabases::addMessages(backup, MessagesDatabases::Era::Ios17);
    writeBackup(backup);
    const auto before = folderSnapshot(m_backup);

    struct
    {
        QStringList titles;
        int bubbles = -1;
        int pictures = -1;
        int loaded = -1;
        QString missing;
        QString imageFile;
        QSize imageSize;
        int scripts = -1;
        QString groupTitle;
    } seen;
    inMessagesWindow([&](TFormMessages& w) {
        for (int i = 0; i < w.lvConversations->topLevelItemCount(); ++i)
            seen.titles << w.lvConversations->topLevelItem(i)->text(0);

        // The conversation with the HEIC and the JPEG picture, named from the address book.
        QTreeWidgetItem* zhang = itemTitled(w.lvConversations, QStringLiteral("伟 张"));
        QVERIFY(zhang);
        QSignalSpy shown(&w, &TFormMessages::conversationShown);
        clickItem(w.lvConversations, zhang);
        QTRY_VERIFY_WITH_TIMEOUT(shown.count() >= 1, 30000);
        QVERIFY(shown.first().first().toBool());
        QWebEnginePage* page = w.webMessages->page();
        seen.bubbles = runJs(page, QStringLiteral("document.querySelectorAll('.m').length")).toInt();
        seen.pictures = runJs(page, QStringLiteral("document.images.length")).toInt();
        seen.loaded = loadedPictures(page, seen.pictures);

        // A click on a picture opens the image window on the picture's readable copy.
        whenShown<TFormImage>([&](TFormImage& image) {
            seen.imageFile = image.FFile ? image.FFile->dstFile : QString();
            seen.imageSize = image.imgPhoto->image().size();
        });
        const QVariantList at =
            runJs(page, QStringLiteral("(() => { const i = document.images[0]; i.scrollIntoView();"
                                       "const r = i.getBoundingClientRect();"
                                       "return [r.left + r.width / 2, r.top + r.height / 2]; })()"))
                .toList();
        QCOMPARE(at.size(), 2);
        QTest::mouseClick(w.webMessages->focusProxy(), Qt::LeftButton, {},
                          QPoint(int(at[0].toDouble()), int(at[1].toDouble())));
        QTRY_VERIFY_WITH_TIMEOUT(!seen.imageFile.isEmpty(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeModalWidget() == &w, 10000);

        // The conversation whose picture the backup lacks says so.
        QTreeWidgetItem* zoe = itemTitled(w.lvConversations, QStringLiteral("Zoë Müller-Lüdenscheid"));
        QVERIFY(zoe);
        clickItem(w.lvConversations, zoe);
        QTRY_VERIFY_WITH_TIMEOUT(shown.count() >= 2, 30000);
        seen.missing = runJs(page, QStringLiteral("Array.from(document.querySelectorAll('.missing'))"
                                                  ".map(e => e.textContent).join('|')"))
                           .toString();

        // The group whose name and one message are markup: text, and the page's script alone.
        QTreeWidgetItem* group = nullptr;
        for (int i = 0; i < w.lvConversations->topLevelItemCount(); ++i)
            if (w.lvConversations->topLevelItem(i)->text(0).contains(QStringLiteral("<script>")))
                group = w.lvConversations->topLevelItem(i);
        QVERIFY(group);
        clickItem(w.lvConversations, group);
        QTRY_VERIFY_WITH_TIMEOUT(shown.count() >= 3, 30000);
        seen.scripts = runJs(page, QStringLiteral("document.scripts.length")).toInt();
        seen.groupTitle = runJs(page, QStringLiteral("document.title")).toString();
    });

    QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
    QVERIFY2(seen.titles.size() >= 5, qPrintable(seen.titles.join('|')));
    QVERIFY(seen.titles.contains(QStringLiteral("+14155550123"))); // in no address book
    QVERIFY(seen.bubbles > 0);
    QCOMPARE(seen.pictures, 2);
    QCOMPARE(seen.loaded, 2);
    QVERIFY(!seen.imageFile.isEmpty());
    QVERIFY(!seen.imageSize.isEmpty());
    QVERIFY2(seen.missing.contains(QStringLiteral("not in this backup")), qPrintable(seen.missing));
    QCOMPARE(seen.scripts, 1);
    QVERIFY(seen.groupTitle.contains(QStringLiteral("<script>")));
    QCOMPARE(folderSnapshot(m_backup), before);
}

void TestMessagesWindow::longConversationLoadsAsItScrolls()
{
    constexpr int kCount = 2600;
    SampleBackup backup;
    MessagesDatabases::addLongConversation(backup, kCount);
    writeBackup(backup);

    int firstShown = -1;
    int shownAtStart = -1;
    int shownAtTop = -1;
    int firstId = -1;
    int entries = -1;
    inMessagesWindow([&](TFormMessages& w) {
        QCOMPARE(w.lvConversations->topLevelItemCount(), 1);
        QSignalSpy shown(&w, &TFormMessages::conversationShown);
        clickItem(w.lvConversations, w.lvConversations->topLevelItem(0));
        QTRY_VERIFY_WITH_TIMEOUT(shown.count() >= 1, 30000);
        entries = int(w.messages().size());
        QWebEnginePage* page = w.webMessages->page();
        shownAtStart = runJs(page, QStringLiteral("document.querySelectorAll('#list > [id^=m]').length")).toInt();
        firstShown = runJs(page, QStringLiteral("Number(document.body.dataset.first)")).toInt();
        // Scroll to the top until the page has asked for everything.
        QDeadlineTimer deadline(60000);
        while (!deadline.hasExpired() &&
               runJs(page, QStringLiteral("window.scrollTo(0, 0); Number(document.body.dataset.first)"))
                       .toInt() != 0)
            QTest::qWait(50);
        shownAtTop = runJs(page, QStringLiteral("document.querySelectorAll('#list > [id^=m]').length")).toInt();
        firstId = runJs(page, QStringLiteral("document.querySelector('#list > [id^=m]').id.slice(1)")).toInt();
    });
    QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
    // The newest page first, then everything once, in order from the oldest.
    QCOMPARE(shownAtStart, 500);
    QVERIFY(firstShown > 0);
    QVERIFY(entries > 2000);
    QCOMPARE(shownAtTop, entries);
    QCOMPARE(firstId, 0);
}

int main(int argc, char* argv[])
{
    registerChatSchemes();
    TApplication app(argc, argv);
    TestMessagesWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_messageswindow.moc"
